// A three-dip process against the simulated controllers (veri-sim next to
// this program): the measured bottom and top waits against their nominal
// (N + 1) x 100 ms, and the time of each whole dip cycle.
#include <QApplication>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "base/Host.h"
#include "BenchLine.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "serial/SerialPortNG.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"
#include "veri/Transport.h"
#include "support/SimProcess.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Notes the time of every output step line ("...Action:mode; step; ...").
class TStepClock : public IReportSink {
public:
  struct TStep {
    int Step;
    double At;
  };
  std::vector<TStep> Steps;
  void AppendLine(const std::string &line) override {
    const std::string head = "$ ChMode, ProcAction, ChNumber, Action:";
    if (line.compare(0, head.size(), head) != 0) return;
    const size_t a = line.find("; ");
    if (a != std::string::npos) Steps.push_back({std::atoi(line.c_str() + a + 2), Now()});
  }
};

}  // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  TSimProcess sim;  // the simulated controllers of this build
  const std::string slave = sim.SlavePath;
  if (!sim.Started()) {
    std::printf("error: veri-sim did not start (build it next to this program)\n");
    return 1;
  }
  TSerialPortNG port;
  port.SetCommPort(slave);
  port.SetBaudRate(19200);
  port.ThreadQuietMode = true;
  port.SetActive(true);
  VeriPort() = &port;
  TStepClock steps;
  Host().Report = &steps;
  ReportLevel = 2;

  BenchMotorsOn();
  AppendBenchProcess(3);

  uint16_t error = 0;
  const double t0 = Now();
  RunProcess("Bench", 2, 1, error, 1);
  const double total = Now() - t0;

  std::printf("dip_process_3_dips: %.2f s (error word %u)\n", total, error);
  // How far each wait lies above its nominal time (bottom 1.1 s, top 0.6 s).
  double cycleStart = 0, at3 = 0, at5 = 0, bottom = 0, top = 0, cycle = 0;
  int dips = 0, bottoms = 0;
  for (auto &s : steps.Steps) {
    if (s.Step == 1) cycleStart = s.At;
    if (s.Step == 3) at3 = s.At;
    if (s.Step == 4) bottom += s.At - at3 - 1.1, ++bottoms;
    if (s.Step == 5) at5 = s.At;
    if (s.Step == 6) top += s.At - at5 - 0.6, cycle += s.At - cycleStart, ++dips;
  }
  if (bottoms && dips) {
    std::printf("dip_bottom_wait_over_nominal: %.1f ms\n", 1000 * bottom / bottoms);
    std::printf("dip_top_wait_over_nominal: %.1f ms\n", 1000 * top / dips);
    std::printf("dip_cycle_1cm_strokes: %.2f s\n", cycle / dips);
  }
  Host().Report = nullptr;
  VeriPort() = nullptr;
  port.SetActive(false);
  return 0;
}
