// Axis moves against the in-process simulated controllers on the fake clock.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Manual.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"

namespace {

const char *const EmergencyText =
    "        *** EMERGENCY STOP ***         \r\nTo continue release button first. \r\n"
    "Completely abort Task?.";
const char *const StopText = "        *** STOP ***         \r\nRETRY to continue or  \r\nABORT to cancel Task";

// The manual STOP button as the state's update sets it: every update that
// is not a state change (a hold or a press), and state changes that switch it.
struct TFakeStopButton {
  std::vector<bool> Calls;
  bool Enabled = false;
  TOpState State = Idle;
  void Update() {
    const bool stateChanged = OpState() != State;
    State = OpState();
    if (stateChanged && ManualStopEnabled() == Enabled) return;
    Enabled = ManualStopEnabled();
    Calls.push_back(Enabled);
  }
};

class MotionTest : public ::testing::Test {
protected:
  THostFixture Host;
  TSimLinePort Line;
  TFakeStopButton View;

  void SetUp() override {
    ResetMachineDefaults();
    StopRequest = false;
    SetOpState(Idle);
    SetOpStateListener([this] { View.Update(); });
    // Powered, at their start positions, and the table knows where they are.
    for (int a = 1; a <= 3; ++a) {
      Line.Ctl(a).MotorOn = true;
      Line.Ctl(a).Position = 10;  // mm
      Axes[a].Position = 1;       // cm
      Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
    }
  }
  void TearDown() override {
    SetOpStateListener(nullptr);
    StopRequest = false;
    SetOpState(Idle);
  }
  // Runs `action` once at the n-th event pump.
  void AtPump(uint64_t n, std::function<void()> action) {
    Host.Events.OnPump = [this, n, action] {
      if (Host.Events.Pumps == n) action();
    };
  }
  // Axis addresses of the move commands, in the order sent.
  std::vector<int> MoveOrder() const {
    std::vector<int> order;
    for (const std::string &s : Line.Sent)
      if (s.find(" V=") != std::string::npos) order.push_back(s[1] - '0');
    return order;
  }
  static int Count(const std::vector<std::string> &v, const std::string &what) {
    int n = 0;
    for (auto &s : v) n += s == what;
    return n;
  }
  static int CountPrefix(const std::vector<std::string> &v, const std::string &prefix) {
    int n = 0;
    for (auto &s : v) n += s.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
};

TEST_F(MotionTest, CommandTraceAndFinalState) {
  bool ok = false;
  MoveTo(1, ok, 5, 3);  // MaxSpeed 2
  EXPECT_TRUE(ok);
  std::vector<std::string> c = Line.Commands(1);
  ASSERT_FALSE(c.empty());
  EXPECT_EQ(c[0], "V=1200.0000 WA=30.0000 E");
  EXPECT_TRUE(Host.Report.Has("$ Move [1]  to: 3;  Speed: 2")) << Host.Report.Joined();
  EXPECT_EQ(Count(c, "S"), 0);
  // The close of the move: emergency-stop input twice, then the position.
  ASSERT_GE(c.size(), 3u);
  EXPECT_EQ(c[c.size() - 3], "P1013?");
  EXPECT_EQ(c[c.size() - 2], "P1013?");
  EXPECT_EQ(c.back(), "P51?");
  EXPECT_DOUBLE_EQ(Axes[1].Position, 3);
  EXPECT_EQ(MotionState, 1);
}

TEST_F(MotionTest, NoMoveForZeroSpeedOrTinyDistance) {
  bool ok = false;
  MoveTo(1, ok, 0, 5);
  EXPECT_TRUE(ok);
  MoveTo(1, ok, -1, 5);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(Line.Sent.empty());
  EXPECT_TRUE(Host.Report.Lines.empty());

  Axes[1].Position = 5;
  ok = false;
  MoveTo(1, ok, 1.5, 5.004);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(Line.Sent.empty());
  EXPECT_TRUE(Host.Report.HasPrefix("$ Move [1] from 5 to: 5.004 = delta:0.00")) << Host.Report.Joined();
  EXPECT_EQ(Axes[1].Speed, 1.5);  // kept; the display ignores it while not moving

  MoveTo(1, ok, 1.5, 5.006);
  ASSERT_FALSE(Line.Commands(1).empty());
  EXPECT_EQ(Line.Commands(1)[0], "V=900.0000 WA=50.0600 E");

  // Nonsense from an edit field never reaches the controller.
  Line.Sent.clear();
  MoveTo(1, ok, std::nan(""), 3);
  EXPECT_FALSE(ok);
  MoveTo(1, ok, 1, std::numeric_limits<double>::infinity());
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Line.Sent.empty());
}



TEST_F(MotionTest, StopDuringJogSendsStopAndFails) {
  Line.Ctl(1).Position = 100;
  Axes[1].Position = 10;
  AtPump(5, [] { ManualStopPress(); });
  Jog(1, true);  // towards 54 cm
  std::vector<std::string> c = Line.Commands(1);
  EXPECT_EQ(c[0], "V=1200.0000 WA=540.0000 E");
  EXPECT_EQ(Count(c, "S"), 1);
  EXPECT_TRUE(Host.Report.HasPrefix("$ Motor Stop ")) << Host.Report.Joined();
  EXPECT_LT(Axes[1].Position, 54);
  EXPECT_EQ(MotionState, 1);  // the stand-in answer "OK1"
  // STOP enabled for the jog, greyed by the press and again at the end.
  EXPECT_EQ(View.Calls, (std::vector<bool>{true, false, false}));
  EXPECT_TRUE(StopRequest);  // stays set until the next move starts

  bool ok = true;
  StopRequest = true;
  MoveTo(1, ok, 2, 10);  // a new move clears it and runs to the end
  EXPECT_TRUE(ok);
  EXPECT_FALSE(StopRequest);
  EXPECT_DOUBLE_EQ(Axes[1].Position, 10);
}


TEST_F(MotionTest, EmergencyStopBoxAbortRepeatsYesFails) {
  // Pressed in the middle of the move: the controller halts and refuses the
  // repeat while the button is in.
  AtPump(4, [this] { Line.Control("estop 1 press"); });
  Host.Operator.Answers = {mbAbort, mbYes};
  bool ok = true;
  MoveTo(1, ok, 2, 20);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Axes[1].StopActive);
  ASSERT_EQ(Host.Operator.Asked.size(), 2u);
  for (const TAsked &a : Host.Operator.Asked) {
    EXPECT_EQ(a.Text, EmergencyText);
    EXPECT_EQ(a.Kind, TMsgKind::Error);
    EXPECT_EQ(a.Buttons, unsigned(mbYes | mbAbort));
  }
  EXPECT_EQ(CountPrefix(Line.Commands(1), "V=1200.0000 WA=200.0000 E"), 2);
}

TEST_F(MotionTest, InputWithoutBit2CountsAsEmergencyStop) {
  Line.Ctl(1).Params[1013] = 3;  // bit 2 clear
  Host.Operator.Answers = {mbYes};
  bool ok = true;
  MoveTo(1, ok, 2, 2);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Host.Operator.Asked.size(), 1u);
}

TEST_F(MotionTest, ControllerLostMidMoveEndsTheMove) {
  AtPump(4, [this] { Line.Control("mute 1"); });
  bool ok = true;
  SetOpState(TaskRunning);
  MoveTo(1, ok, 2, 40);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(Axes[1].Moving);
  EXPECT_EQ(Line.Commands(1).back(), "S");
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [1] stopped, no valid answer from the controller: ***"))
      << Host.Report.Joined();
  // No false emergency-stop alarm for a controller that cannot be asked.
  EXPECT_TRUE(Host.Operator.Asked.empty());
  EXPECT_EQ(OpState(), TaskRunning);

  // Back on the line, the axis moves again.
  Line.Control("unmute 1");
  Host.Events.OnPump = nullptr;
  MoveTo(1, ok, 2, 3);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(Axes[1].Position, 3);
}


TEST_F(MotionTest, MoveThatNeverEndsIsStopped) {
  // The controller keeps reporting "moving" far beyond the time the move needs.
  Line.Bus.SetSpeedup(1e-4, Line.Now());
  bool ok = true;
  MoveTo(3, ok, 2, 5);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Count(Line.Commands(3), "S"), 1);
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [3] stopped, not finished after")) << Host.Report.Joined();
  EXPECT_LE(Host.Clock.Slept, MoveTimeLimitMs(3, 2, 5) + 5000u);
}



TEST_F(MotionTest, PositioningOrder) {
  PosTable[7] = {"Beaker", 20, 5};
  bool ok = false;
  MoveToTopfPosition(PosTable[7].Name, PosTable[7].X, PosTable[7].Y, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(MoveOrder(), (std::vector<int>{3, 1, 2}));
  EXPECT_TRUE(Host.Report.Has("$ Move to Position Beaker"));

  Line.Sent.clear();
  MachineSettings.YCenterline = true;
  PosTable[7] = {"Beaker", 30, 2};
  MoveToTopfPosition(PosTable[7].Name, PosTable[7].X, PosTable[7].Y, ok);
  EXPECT_EQ(MoveOrder(), (std::vector<int>{2, 1, 2}));  // Z already at 5
  EXPECT_EQ(Line.Commands(2)[0], "V=1200.0000 WA=102.5000 E");

}

TEST_F(MotionTest, FailedPositioningRetryAndAbort) {
  PosTable[1] = {"Rinse", 20, 5};
  bool stopped = false;
  Host.Events.OnPump = [&] {
    if (!stopped && Host.Events.Pumps == 3) stopped = StopRequest = true;
  };
  Host.Operator.Answers = {mbRetry};
  bool ok = false;
  MoveToTopfPosition(PosTable[1].Name, PosTable[1].X, PosTable[1].Y, ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(Host.Operator.Asked.size(), 1u);
  EXPECT_EQ(Host.Operator.Asked[0].Text, StopText);
  EXPECT_EQ(Host.Operator.Asked[0].Buttons, unsigned(mbAbort | mbRetry));
  EXPECT_EQ(Count(Host.Report.Lines, "$ Move to Position Rinse"), 2);
  EXPECT_EQ(MoveOrder(), (std::vector<int>{3, 3, 1, 2}));

  Host.Events.OnPump = [] { StopRequest = true; };
  Host.Operator.Answers = {mbAbort};
  PosTable[1] = {"Rinse", 40, 15};
  MoveToTopfPosition(PosTable[1].Name, PosTable[1].X, PosTable[1].Y, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Host.Operator.Asked.size(), 2u);
}

TEST_F(MotionTest, HomeReportsDoneAlsoWhenStopped) {
  MachineSettings.HomeX = 4;
  MachineSettings.HomeY = 6;
  MachineSettings.HomeZ = 2;
  HomePos();
  EXPECT_EQ(MoveOrder(), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(View.Calls, (std::vector<bool>{true, false}));
  EXPECT_EQ(Host.Report.Lines.back(), "  ... done.");

}

TEST_F(MotionTest, NestedJogKeepsStopUsableAndOneStopEndsBoth) {
  Line.Ctl(1).Position = 100;
  Axes[1].Position = 10;
  std::vector<bool> outerAfterInner;
  bool innerDone = false, nestedY = false;
  Host.Events.OnPump = [&] {
    const uint64_t p = Host.Events.Pumps;
    if (p == 3) {
      // A short nested move of Z inside the X jog.
      TManualStopHold hold;
      bool ok;
      MoveTo(3, ok, 2, 1.5);
      innerDone = true;
    } else if (innerDone && outerAfterInner.empty()) {
      outerAfterInner.push_back(View.Enabled);
    } else if (p == 60) {
      nestedY = true;
      Jog(2, false);  // a nested jog of Y; one STOP ends both
    } else if (nestedY && p == 63) {
      ManualStopPress();
    }
  };
  Jog(1, true);
  ASSERT_EQ(outerAfterInner.size(), 1u);
  EXPECT_TRUE(outerAfterInner[0]);  // X still moves: STOP stays usable
  EXPECT_EQ(Count(Line.Commands(3), "S"), 0);
  EXPECT_EQ(Count(Line.Commands(1), "S"), 1);
  EXPECT_EQ(Count(Line.Commands(2), "S"), 1);
  EXPECT_FALSE(View.Enabled);
}


TEST(MotionText, NumbersAndPollDigits) {
  EXPECT_EQ(MotionNumber(-1.25), "-1.25");
  EXPECT_EQ(MotionNumber(0.1 + 0.2), "0.3");
  EXPECT_EQ(MotionNumber(1e-6), "1E-6");
  EXPECT_EQ(MoveCommand(3, 12.5), "V=1800.0000 WA=125.0000 E");
  int s = -1;
  EXPECT_TRUE(PollStateDigit("OK1 ", s));
  EXPECT_EQ(s, 1);
  EXPECT_FALSE(PollStateDigit("*** SerialTalk: TimeOut\r\n", s));
  EXPECT_FALSE(PollStateDigit("OK", s));
}

}  // namespace

// A controller without motor current refuses the move yet reports it
// finished; the move must fail, or a task would dip nowhere and succeed.
TEST_F(MotionTest, MoveThatDidNotHappenFails) {
  SetOpState(TaskRunning);
  Line.Ctl(3).MotorOn = false;
  bool ok = true;
  MoveTo(3, ok, 1, 4);
  EXPECT_FALSE(ok);
  EXPECT_NEAR(Axes[3].Position, 1, 1e-9);
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [3] did not reach its target 4: the controller reports 1"));

  Line.Ctl(3).MotorOn = true;
  MoveTo(3, ok, 1, 4);
  EXPECT_TRUE(ok);
  // A jog the controller ends at its software limit: its warning, no error.
  SetOpState(Idle);
  Line.Control("softlimits 3 0 45");
  Host.Report.Lines.clear();
  MoveTo(3, ok, 1, 6);
  EXPECT_TRUE(Host.Report.Has("WARNING VERI [  1]: Software limit switch reached")) << Host.Report.Joined();
  EXPECT_FALSE(Host.Report.HasPrefix("***")) << Host.Report.Joined();
}
