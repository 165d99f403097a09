// The time estimate against a real run: a two-process task (two step-by-step
// dips, then two fast dips) on the paced simulator (veri-sim next to this
// program) with "Replies end at the line end" off and on. The estimate is
// made as Check makes it, after the exchanges of a connection check have
// set the measured exchange time.
#include <chrono>
#include <cstdio>
#include <string>

#include "base/Host.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "serial/SerialPortNG.h"
#include "BenchLine.h"
#include "support/SimProcess.h"
#include "tasks/Estimate.h"
#include "tasks/TaskRun.h"
#include "veri/Transport.h"

namespace {

// Keeps the line the run writes about its estimate.
class TEndLine : public IReportSink {
public:
  std::string Line;
  void AppendLine(const std::string &line) override {
    if (line.rfind("Estimate was ", 0) == 0) Line = line;
  }
};

void Measure(bool fast) {
  const std::string tag = std::string("estimate_off_by_fast_replies_") + (fast ? "on" : "off");
  TSimProcess sim;
  TSerialPortNG port;
  if (!OpenBenchPort(port, sim, fast, tag)) return;
  VERIResetExchangeMs();
  for (uint8_t a = 1; a <= 3; ++a) {
    VERIDialog(a, "P134=7");
    Axes[a].Position = 1;  // the simulator starts at 10 mm
    Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
  }
  for (int i = 0; i < 24; ++i) VERIDialog(uint8_t(1 + i % 3), "VER");
  const double exchange = VERIExchangeMs();
  const double estimate = EstimateTask(TaskTable[CurTask].Line, exchange).Total();
  TEndLine end;
  Host().Report = &end;
  const auto t0 = std::chrono::steady_clock::now();
  TaskStart();
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  Host().Report = nullptr;
  std::printf("%s: %+.1f %% (estimate %.1f s, run %.1f s, exchange %.0f ms; \"%s\")\n", tag.c_str(),
              (took - estimate) / estimate * 100.0, estimate, took, exchange, end.Line.c_str());
  VeriPort() = nullptr;
  port.SetActive(false);
}

}  // namespace

int main() {
  MachineSettings.StandardZ = 1;
  MachineSettings.HomeX = MachineSettings.HomeY = MachineSettings.HomeZ = 1;
  AppendPosition({"Rinse", 3, 2});
  AppendPosition({"Coat", 6, 4});
  TProcEntry e;
  e.Name = "Rinse";
  e.PosNo = 1;
  e.UpperPos = 2;
  e.LowPos = 5;
  e.InSpeed = 1.5;
  e.OutSpeed = 1;
  e.InTime = 1.0;
  e.OutTime = 0.5;
  e.NoTunks = 2;
  AppendProcess(e);
  e.Name = "Coat";
  e.PosNo = 2;
  e.LowPos = 4;
  e.InSpeed = e.OutSpeed = 2;
  e.InTime = 0;  // fast dips
  e.OutTime = 1.0;
  AppendProcess(e);
  AppendTask({"Both", "Rinse + Coat"});
  CurTask = TaskCount;
  Measure(false);
  Measure(true);
  return 0;
}
