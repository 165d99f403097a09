// The time estimate against a real run on the paced simulator (veri-sim
// next to this program): step-by-step dips with an output channel switched
// at every step, and fast dips, each with "Replies end at the line end" off
// and on. The estimate is
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

void Measure(bool fast, const std::string &task) {
  const std::string tag = std::string("estimate_off_by_") + task + "_fast_replies_" + (fast ? "on" : "off");
  TSimProcess sim;
  TSerialPortNG port;
  if (!OpenBenchPort(port, sim, fast, tag)) return;
  VERIResetExchangeMs();
  // Every kind of exchange once measured, as a connection check and the
  // runs before leave them: writes, reads, calls.
  for (uint8_t a = 1; a <= 3; ++a) {
    VERIDialog(a, "P134=7");
    Axes[a].Position = 1;  // the simulator starts at 10 mm
    Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
  }
  for (int i = 0; i < 8; ++i) VERIDialog(uint8_t(1 + i % 3), "P134=7");
  for (int i = 0; i < 24; ++i) VERIDialog(uint8_t(1 + i % 3), "VER");
  for (int i = 0; i < 8; ++i) VERICall(3, "R9 = 0");
  for (CurTask = 1; CurTask <= TaskCount && TaskTable[CurTask].Name != task; ++CurTask) {}
  const TExchangeTimes times = MeasuredExchangeTimes();
  const double estimate = EstimateTask(TaskTable[CurTask].Line, times).Total();
  TEndLine end;
  Host().Report = &end;
  const auto t0 = std::chrono::steady_clock::now();
  TaskStart();
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  Host().Report = nullptr;
  std::printf("%s: %+.1f %% (estimate %.1f s, run %.1f s; read %.0f ms, write %.0f ms, call %.0f ms)\n",
              tag.c_str(), (took - estimate) / estimate * 100.0, estimate, took, times.ReadMs, times.WriteMs,
              times.CallMs);
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
  // Output channel 2 (controller 3, pin 4) switched at every step of the
  // step-by-step dips.
  DigOutCount = 4;
  DigOutTable[2].Address = 3;
  DigOutTable[2].Pin = 4;
  ProcTable[1].ChNo = 2;
  ProcTable[1].ChMode = 1;
  AppendTask({"steps", "Rinse*2"});
  AppendTask({"fast", "Coat*2"});
  for (const char *task : {"steps", "fast"})
    for (bool fast : {false, true}) Measure(fast, task);
  return 0;
}
