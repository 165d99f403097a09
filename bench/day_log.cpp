// Cost of one report line kept in the day log: the stamp, one write(2) and
// the sync thread's share, with no window to show it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "base/DayLog.h"
#include "base/Host.h"

int main() {
  char tmpl[] = "/tmp/kvbench-daylog-XXXXXX";
  if (!mkdtemp(tmpl) || chdir(tmpl) != 0) return 1;
  const std::string line = "$ VERI Call: #3 P51 : 125.000";
  const int n = 100000;
  DayLog().Open("logs");
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) ReportLine(line);
  const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
  const auto t1 = std::chrono::steady_clock::now();
  DayLog().Close();
  const double closeMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t1).count();
  std::printf("report_log_line: %.2f us (%d lines, close %.1f ms)\n", us / n, n, closeMs);
  std::system((std::string("rm -rf '") + tmpl + "'").c_str());
  return 0;
}
