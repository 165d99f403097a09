// Task runs over a real serial port against build/veri-sim, in real time.
// Waits and distances are kept short; the simulated motion runs faster.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/Fakes.h"
#include "support/SimProcess.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "serial/SerialPortNG.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"
#include "veri/Transport.h"

namespace {

class TaskE2E : public ::testing::Test {
protected:
  THostFixture Host;
  TSimLine Line;
  TSimProcess &Sim = Line.Sim;

  void SetUp() override {
    ASSERT_TRUE(Line.Open());
    Line.PrepareDipMachine();
  }
  void TearDown() override { SetOpState(Idle); }

  static TProcEntry Proc(const std::string &name, uint8_t pos, double inTime, int32_t dips) {
    TProcEntry e;
    e.Name = name;
    e.PosNo = pos;
    e.InSpeed = 1;
    e.OutSpeed = 2;
    e.UpperPos = 1.5;
    e.LowPos = 2.5;
    e.InTime = inTime;
    e.OutTime = inTime;
    e.NoTunks = dips;
    return e;
  }
  void Show(const std::string &line) {
    AppendTask({"T", line});
    CurTask = TaskCount;
  }
  // The frames the simulator received, without polls and reads.
  std::vector<std::string> Frames() const {
    std::vector<std::string> out;
    for (const std::string &f : Sim.Frames()) {
      const size_t cmd = f.find(' ');
      if (cmd == std::string::npos) continue;  // the empty poll
      const std::string c = f.substr(cmd + 1);
      if (c.empty() || c.back() == '?' || c == "P134=7") continue;
      out.push_back(f);
    }
    return out;
  }
  int Count(const std::string &frame) const {
    const auto f = Frames();
    return static_cast<int>(std::count(f.begin(), f.end(), frame));
  }
  bool Logged(const std::string &line) const { return Host.Report.Has(line); }
};

TEST_F(TaskE2E, TwoProcessesStepByStep) {
  TProcEntry a = Proc("A", 1, 0.2, 2);
  a.ChNo = 2;
  a.ChMode = 3;
  AppendProcess(a);
  AppendProcess(Proc("B", 2, 0.1, 1));
  Show("A + B");
  TaskStart();
  const std::vector<std::string> cycleA = {
      "#3 P1204=1", "#3 P1204=1", "#3 V=600.0000 WA=25.0000 E", "#3 P1204=1", "#3 P1204=1",
      "#3 V=1200.0000 WA=15.0000 E", "#3 P1204=1", "#3 P1204=0"};
  std::vector<std::string> expected = {"#1 V=1200.0000 WA=20.0000 E", "#2 V=1200.0000 WA=15.0000 E",
                                       "#3 V=1200.0000 WA=15.0000 E"};
  expected.insert(expected.end(), cycleA.begin(), cycleA.end());
  expected.insert(expected.end(), cycleA.begin(), cycleA.end());
  const std::vector<std::string> rest = {
      "#3 V=1200.0000 WA=10.0000 E", "#1 V=1200.0000 WA=30.0000 E", "#2 V=1200.0000 WA=20.0000 E",
      "#3 V=1200.0000 WA=15.0000 E", "#3 V=600.0000 WA=25.0000 E",  "#3 V=1200.0000 WA=15.0000 E",
      // home
      "#3 V=1200.0000 WA=10.0000 E", "#2 V=1200.0000 WA=10.0000 E", "#1 V=1200.0000 WA=10.0000 E"};
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(Frames(), expected) << Host.Report.Joined();
  EXPECT_EQ(Host.Report.Lines.back(), "-- End Task ---.");
  EXPECT_TRUE(Host.Operator.Asked.empty());
  EXPECT_EQ(OpState(), Idle);
}

TEST_F(TaskE2E, FastDipProcess) {
  TProcEntry f = Proc("F", 1, 0, 2);
  f.OutTime = 0;
  AppendProcess(f);
  Show("F");
  TaskStart();
  std::vector<std::string> fromR0;
  bool seen = false;
  for (auto &fr : Frames()) {
    if (fr == "#3 R0 = 15.0000") seen = true;
    if (seen) fromR0.push_back(fr);
  }
  const std::vector<std::string> expected = {
      "#3 R0 = 15.0000", "#3 R1 = 25.0000", "#3 R2 = 1200.0000", "#3 R3 = 600.0000", "#3 C1 = 2", "#3 M1 = 1",
      "#3 RUN",
      // home
      "#3 V=1200.0000 WA=10.0000 E", "#2 V=1200.0000 WA=10.0000 E", "#1 V=1200.0000 WA=10.0000 E"};
  EXPECT_EQ(fromR0, expected) << Host.Report.Joined();
  EXPECT_TRUE(Logged("FastDips to do: 0"));
  EXPECT_TRUE(Logged("... done with FastDips"));
  EXPECT_EQ(Host.Report.Lines.back(), "-- End Task ---.");
}

TEST_F(TaskE2E, StopDuringFastDips) {
  TProcEntry f = Proc("F", 1, 0, 50);
  f.OutTime = 0;
  AppendProcess(f);
  AppendProcess(Proc("B", 2, 0.1, 1));
  Show("F + B");
  // Real-time dips (about 1.5 s each), stopped at the first count shown.
  Sim.Control("speedup 1");
  bool pressed = false;
  Host.Events.OnPump = [&] {
    if (!pressed && Host.Report.HasPrefix("FastDips to do: ")) pressed = true, TaskStop();
  };
  TaskStart();
  ASSERT_TRUE(pressed);
  EXPECT_GE(Count("#3 S"), 1);
  EXPECT_FALSE(Logged("FastDips to do: 0"));
  EXPECT_FALSE(Logged("   Position: Coat"));
  EXPECT_EQ(Host.Report.Lines.back(), "-- End Task ---.");
  EXPECT_EQ(OpState(), Idle);
}

}  // namespace
