// Exchanges, moves and task runs over a real serial port against
// build/veri-sim, in real time. Waits and distances are kept short; the
// simulated motion runs faster.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "support/Fakes.h"
#include "support/SimProcess.h"
#include "app/OpState.h"
#include "machine/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "serial/SerialPortNG.h"
#include "tasks/TaskRun.h"
#include "veri/Transport.h"

namespace {

using V = std::vector<std::string>;

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

  // Fields: name, position, in and out speed, upper and low position, in
  // and out time, channel, channel mode, dips.
  void Run(const std::vector<TProcEntry> &procs, const std::string &line) {
    for (const TProcEntry &p : procs) AppendProcess(p);
    AppendTask({"T", line});
    CurTask = TaskCount;
    TaskStart();
  }
  // The frames the simulator received, without polls and reads.
  V Frames() const {
    V out;
    for (const std::string &f : Sim.Frames()) {
      const size_t cmd = f.find(' ');
      if (cmd == std::string::npos) continue;  // the empty poll
      const std::string c = f.substr(cmd + 1);
      if (c.empty() || c.back() == '?' || c == "P134=7") continue;
      out.push_back(f);
    }
    return out;
  }
};

const V Home = {"#3 V=1200.0000 WA=10.0000 E", "#2 V=1200.0000 WA=10.0000 E", "#1 V=1200.0000 WA=10.0000 E"};

TEST_F(TaskE2E, LateReplyIsDrainedBeforeTheNextCommand) {
  Sim.Control("delay 1 1300 1");
  EXPECT_EQ(VERIDialog(1, "VER").substr(0, 25), "*** SerialTalk: TimeOut\r\n");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (Line.Port->NextClusterLength() < 0 && std::chrono::steady_clock::now() < deadline) SleepMs(10);
  ASSERT_GE(Line.Port->NextClusterLength(), 0) << "the late reply did not come";
  EXPECT_EQ(VERIDialog(1, "P403?"), "P403=5 ");
  EXPECT_TRUE(Host.Report.Has("$ VERI Serial Talk buffer: #1 VER VERISIM_1.0\r\n")) << Host.Report.Joined();
}

TEST_F(TaskE2E, MutedControllerEndsTheMoveAndTheProgramGoesOn) {
  Sim.Control("speedup 1");
  const auto start = std::chrono::steady_clock::now();
  bool muted = false;
  Host.Events.OnPump = [&] {
    if (!muted && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300))
      muted = Sim.Control("mute 1");
  };
  bool ok = true;
  MoveTo(1, ok, 2, 20);  // would take 9.5 s
  EXPECT_FALSE(ok);
  EXPECT_FALSE(Axes[1].Moving);
  EXPECT_EQ(Axes[1].Speed, 0);
  EXPECT_LT(Axes[1].Position, 10);
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [1] stopped")) << Host.Report.Joined();
  // Plugged in again, the next move works.
  Host.Events.OnPump = nullptr;
  Sim.Control("unmute 1");
  MoveTo(1, ok, 2, 1.5);
  EXPECT_TRUE(ok);
  EXPECT_NEAR(Axes[1].Position, 1.5, 1e-6);
}

TEST_F(TaskE2E, TwoProcessesStepByStep) {
  Run({{"A", 1, 1, 2, 1.5, 2.5, 0.2, 0.2, 2, 3, 2}, {"B", 2, 1, 2, 1.5, 2.5, 0.1, 0.1, 0, 0, 1}}, "A + B");
  const V cycleA = {"#3 P1204=1", "#3 P1204=1", "#3 V=600.0000 WA=25.0000 E", "#3 P1204=1", "#3 P1204=1",
                    "#3 V=1200.0000 WA=15.0000 E", "#3 P1204=1", "#3 P1204=0"};
  V expected = {"#1 V=1200.0000 WA=20.0000 E", "#2 V=1200.0000 WA=15.0000 E", "#3 V=1200.0000 WA=15.0000 E"};
  expected.insert(expected.end(), cycleA.begin(), cycleA.end());
  expected.insert(expected.end(), cycleA.begin(), cycleA.end());
  const V rest = {"#3 V=1200.0000 WA=10.0000 E", "#1 V=1200.0000 WA=30.0000 E", "#2 V=1200.0000 WA=20.0000 E",
                  "#3 V=1200.0000 WA=15.0000 E", "#3 V=600.0000 WA=25.0000 E",  "#3 V=1200.0000 WA=15.0000 E"};
  expected.insert(expected.end(), rest.begin(), rest.end());
  expected.insert(expected.end(), Home.begin(), Home.end());
  EXPECT_EQ(Frames(), expected) << Host.Report.Joined();
  EXPECT_EQ(Host.Report.Lines.back(), "-- End Task ---.");
  EXPECT_TRUE(Host.Operator.Asked.empty());
  EXPECT_EQ(OpState(), Idle);
}

TEST_F(TaskE2E, FastDipProcess) {
  Run({{"F", 1, 1, 2, 1.5, 2.5, 0, 0, 0, 0, 2}}, "F");
  V fromR0 = Frames();
  fromR0.erase(fromR0.begin(), std::find(fromR0.begin(), fromR0.end(), "#3 R0 = 15.0000"));
  V expected = {"#3 R0 = 15.0000", "#3 R1 = 25.0000", "#3 R2 = 1200.0000", "#3 R3 = 600.0000",
                "#3 C1 = 2",       "#3 M1 = 1",       "#3 RUN"};
  expected.insert(expected.end(), Home.begin(), Home.end());
  EXPECT_EQ(fromR0, expected) << Host.Report.Joined();
  EXPECT_TRUE(Host.Report.Has("FastDips to do: 0"));
  EXPECT_TRUE(Host.Report.Has("... done with FastDips"));
  EXPECT_EQ(Host.Report.Lines.back(), "-- End Task ---.");
}

TEST_F(TaskE2E, StopDuringFastDips) {
  // Real-time dips (about 1.5 s each), stopped at the first count shown.
  Sim.Control("speedup 1");
  bool pressed = false;
  Host.Events.OnPump = [&] {
    if (!pressed && Host.Report.HasPrefix("FastDips to do: ")) pressed = true, TaskStop();
  };
  Run({{"F", 1, 1, 2, 1.5, 2.5, 0, 0, 0, 0, 50}, {"B", 2, 1, 2, 1.5, 2.5, 0.1, 0.1, 0, 0, 1}}, "F + B");
  ASSERT_TRUE(pressed);
  const V f = Frames();
  EXPECT_GE(std::count(f.begin(), f.end(), "#3 S"), 1);
  EXPECT_FALSE(Host.Report.Has("FastDips to do: 0"));
  EXPECT_FALSE(Host.Report.Has("   Position: Coat"));
  EXPECT_EQ(Host.Report.Lines.back(), "-- End Task ---.");
  EXPECT_EQ(OpState(), Idle);
}

}  // namespace
