#pragma once
// The dip cycle's holds as the load benches measure them: each output step's
// time from the report log, the holds at the bottom and the top against the
// recipe's waits (1.1 s, 0.6 s including the 100 ms step), one line per case.
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "BenchLine.h"
#include "base/Host.h"
#include "tasks/RunEvents.h"
#include "tasks/TaskRun.h"

inline double BenchNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The window's pump: a server answers inside the process's waits, as in the program.
class TBenchPump : public IEventPump {
public:
  void ProcessMessages() override { QCoreApplication::processEvents(); }
};

// Notes each output step's time and tells the listeners of each dip.
class TDipSteps : public IReportSink {
public:
  std::vector<std::pair<int, double>> Steps;
  int Dip = 0;
  void AppendLine(const std::string &line) override {
    const std::string head = "$ ChMode, ProcAction, ChNumber, Action:";
    if (line.compare(0, head.size(), head) != 0) return;
    const size_t a = line.find("; ");
    if (a == std::string::npos) return;
    const int step = std::atoi(line.c_str() + a + 2);
    Steps.emplace_back(step, BenchNow());
    if (step == 1) {
      TRunEvent e(TRunEventKind::DipStarted);
      e.Process = "Bench", e.Dip = ++Dip, e.Dips = 3;
      SendRunEvent(e);
    }
  }
};

// Runs the three-dip process "Bench" and prints "<prefix>_<tag>: mean (median, max, holds, error word)".
inline void DipHoldsLine(const char *prefix, const char *tag, TDipSteps &steps) {
  steps.Steps.clear();
  uint16_t error = 0;
  RunProcess("Bench", 2, 1, error, 1);
  double at3 = 0, at5 = 0, sum = 0;
  std::vector<double> all;
  for (auto &[step, at] : steps.Steps) {
    if (step == 3) at3 = at;
    if (step == 5) at5 = at;
    if (step != 4 && step != 6) continue;
    all.push_back((step == 4 ? at - at3 - 1.1 : at - at5 - 0.6) * 1000);
    sum += all.back();
  }
  std::sort(all.begin(), all.end());
  const size_t n = all.size();
  std::printf("%s_%s: %.1f ms (median %.1f, max %.1f, %zu holds, error word %u)\n", prefix, tag, n ? sum / n : 0,
              n ? all[n / 2] : 0, n ? all.back() : 0, n, error);
}

// The three-dip process on veri-sim with the steps noted and the window's
// pump: what a load bench sets up before its cases.
struct TDipHoldsBench {
  TSimProcess Sim;
  TSerialPortNG Port;
  TDipSteps Steps;
  TBenchPump Pump;
  // False (and a "<tag>: failed" line) when the simulator or port is not up.
  bool Open(const std::string &tag) {
    if (!OpenBenchPort(Port, Sim, false, tag)) return false;
    Host().Report = &Steps;
    Host().Events = &Pump;
    ReportLevel = 2;
    BenchMotorsOn();
    AppendBenchProcess(3);
    return true;
  }
};
