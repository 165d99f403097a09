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
  // Told to end while six earlier 20 MB days are being compressed.
  std::string day;
  while (day.size() < (20u << 20)) day += "2026-12-01 10:00:00.000 " + line + "\n";
  for (int d = 1; d <= 6; ++d) {
    FILE *f = std::fopen(("logs/2026-11-0" + std::to_string(d) + ".log").c_str(), "w");
    if (!f) return 1;
    std::fwrite(day.data(), 1, day.size(), f);
    std::fclose(f);
  }
  DayLog().Open("logs", int64_t(1) << 40);
  ReportLine(line);
  usleep(300000);
  const auto t2 = std::chrono::steady_clock::now();
  DayLog().Close();
  std::printf("close_while_compressing: %.1f ms (6 days of 20 MB)\n",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t2).count());
  std::system((std::string("rm -rf '") + tmpl + "'").c_str());
  return 0;
}
