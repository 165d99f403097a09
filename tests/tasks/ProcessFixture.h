#pragma once
// A small recipe on simulated controllers driven by the fake clock: two
// positions, processes built per test, output channel 2 on controller 3
// pin 4.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/SimLinePort.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "support/Fakes.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"

class ProcessTest : public ::testing::Test {
protected:
  THostFixture H;
  TSimLinePort Port;

  void SetUp() override {
    ResetMachineDefaults();
    ResetDefinitions();
    StopLatch() = TStopLatch();
    for (int a = 1; a <= 3; ++a) {
      Port.Ctl(a).MotorOn = true;
      Axes[a].Position = Port.Ctl(a).Position / 10.0;
    }
    DigOutCount = 4;
    DigOutTable[2].Address = 3;
    DigOutTable[2].Pin = 4;
    AppendPosition({"Rinse", 4, 3});
    AppendPosition({"Coat", 8, 6});
  }

  void TearDown() override { SetOpState(Idle); }

  // A process at position 2 with short waits and strokes.
  static TProcEntry Proc(const std::string &name, double inTime, double outTime, int32_t dips) {
    TProcEntry e;
    e.Name = name;
    e.PosNo = 2;
    e.InSpeed = 2;
    e.OutSpeed = 2;
    e.UpperPos = 5;
    e.LowPos = 6;
    e.InTime = inTime;
    e.OutTime = outTime;
    e.NoTunks = dips;
    return e;
  }

  uint16_t Run(const std::string &name, int32_t count = 1) {
    uint16_t error = 0;
    RunProcess(name, 2, 1, error, count);
    return error;
  }

  int CountOf(int address, const std::string &command) const {
    int n = 0;
    for (auto &c : Port.Commands(address)) n += c == command;
    return n;
  }
  // Move commands to one axis whose target is `mm`.
  int MovesTo(int address, double mm) const {
    const std::string tail = " WA=" + std::to_string(static_cast<long long>(mm)) + ".0000 E";
    int n = 0;
    for (auto &c : Port.Commands(address))
      if (c.size() > tail.size() && c.compare(c.size() - tail.size(), tail.size(), tail) == 0) ++n;
    return n;
  }
  // Values written to output 2 (P1204 at controller 3), in order.
  std::string OutputWrites() const {
    std::string s;
    for (auto &c : Port.Commands(3))
      if (c.rfind("P1204=", 0) == 0) s += c.substr(6);
    return s;
  }
  bool Logged(const std::string &line) const { return H.Report.Has(line); }
  int LoggedCount(const std::string &line) const {
    int n = 0;
    for (auto &l : H.Report.Lines) n += l == line;
    return n;
  }
};
