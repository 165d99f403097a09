// Axis moves against the in-process simulated controllers on the fake clock.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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

// The simulated line, where Z's position reads can be left unanswered.
class TLine : public TSimLinePort {
public:
  bool MuteZReads = false;
  void SendFrame(const std::string &text, bool answerWords) override {
    if (MuteZReads && text == "#3 P51?\r") Sent.push_back(text);
    else TSimLinePort::SendFrame(text, answerWords);
  }
};

class MotionTest : public ::testing::Test {
protected:
  THostFixture Host;
  TLine Line;

  void SetUp() override {
    ResetMachineDefaults();
    StopRequest = false;
    SetOpState(Idle);
    // Powered, at their start positions, and the table knows where they are.
    for (int a = 1; a <= 3; ++a) {
      Line.Ctl(a).MotorOn = true;
      Line.Ctl(a).Position = 10;  // mm
      Axes[a].Position = 1;       // cm
      Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
    }
  }
  void TearDown() override {
    StopRequest = false;
    SetOpState(Idle);
  }
  // Runs `action` once at the n-th event pump.
  void AtPump(uint64_t n, std::function<void()> action) {
    Host.Events.OnPump = [this, n, action] {
      if (Host.Events.Pumps == n) action();
    };
  }
  int Count(int address, const std::string &what) const {
    int n = 0;
    for (auto &s : Line.Commands(address)) n += s == what;
    return n;
  }
};

TEST_F(MotionTest, MoveSendsMmAndMmPerMinuteClampedToTheAxis) {
  bool ok = false;
  Line.Ctl(1).Acceleration = 100;  // mm/s^2, as the axis table says
  MoveTo(1, ok, 5, 3);             // MaxSpeed 2
  EXPECT_TRUE(ok);
  std::vector<std::string> c = Line.Commands(1);
  ASSERT_GE(c.size(), 3u);
  EXPECT_EQ(c[0], "V=1200.0000 WA=30.0000 E");
  EXPECT_TRUE(Host.Report.Has("$ Move [1]  to: 3;  Speed: 2")) << Host.Report.Joined();
  // Braking as the axis table says, the end is watched by polls alone, so
  // the stand is seen a poll after the arrival; then the close of the move:
  // emergency-stop input, then the position.
  EXPECT_EQ(c[c.size() - 5], "");
  EXPECT_EQ(c[c.size() - 4], "");
  EXPECT_EQ(c[c.size() - 2], "P1013?");
  EXPECT_EQ(c.back(), "P51?");
  EXPECT_DOUBLE_EQ(Axes[1].Position, 3);

  // Nonsense from an edit field never reaches the controller.
  Line.Sent.clear();
  MoveTo(1, ok, std::nan(""), 3);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Line.Sent.empty());
}

TEST_F(MotionTest, EmergencyStopBoxAbortRepeatsYesFails) {
  // Pressed in the middle of the move: the controller halts and refuses the
  // repeat while the button is in.
  AtPump(4, [this] { Line.Control("estop 1 press"); });
  Host.Operator.Answers = {mbAbort, mbYes};
  bool ok = true;
  MoveTo(1, ok, 2, 20);
  EXPECT_FALSE(ok);
  ASSERT_EQ(Host.Operator.Asked.size(), 2u);
  EXPECT_EQ(Host.Operator.Asked[0].Text,
            "        *** EMERGENCY STOP ***         \r\nTo continue release button first. \r\n"
            "Completely abort Task?.");
  EXPECT_EQ(Host.Operator.Asked[0].Buttons, unsigned(mbYes | mbAbort));
  EXPECT_EQ(Count(1, "V=1200.0000 WA=200.0000 E"), 2);
}

// A controller without motor current refuses the move yet reports it
// finished; the move must fail, or a task would dip nowhere and succeed.
TEST_F(MotionTest, MoveThatDidNotHappenFails) {
  SetOpState(TaskRunning);
  Line.Ctl(3).MotorOn = false;
  bool ok = true;
  MoveTo(3, ok, 1, 4);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [3] did not reach its target 4: the controller reports 1"));
  // A jog the controller ends at its software limit: its warning, no error.
  Line.Ctl(3).MotorOn = true;
  SetOpState(Idle);
  Line.Control("softlimits 3 0 45");
  Host.Report.Lines.clear();
  MoveTo(3, ok, 1, 6);
  EXPECT_TRUE(Host.Report.Has("WARNING VERI [  1]: Software limit switch reached")) << Host.Report.Joined();
  EXPECT_FALSE(Host.Report.HasPrefix("***")) << Host.Report.Joined();
}

// A position read that fails is no reading: the polls' listener never hears
// it, and after the move it is said to have failed, not taken for where the
// axis stands.
TEST_F(MotionTest, FailedPositionReadsAreNotReadings) {
  SetOpState(TaskRunning);
  std::vector<double> heard;
  int readsBefore = 0;
  AtPump(3, [this, &readsBefore] {
    readsBefore = Count(3, "P51?");
    Line.MuteZReads = true;
  });
  const TMoveResult r = Move(3, 1, 4, [&heard](uint8_t, double cm) { heard.push_back(cm); });
  EXPECT_EQ(int(heard.size()), readsBefore);
  EXPECT_FALSE(r.PositionRead);
  EXPECT_EQ(r.Outcome, TMoveOutcome::Lost);
  EXPECT_TRUE(Host.Report.Has("*** Move [3]: the position could not be read after the move"))
      << Host.Report.Joined();
  EXPECT_FALSE(Host.Report.HasPrefix("*** Move [3] did not reach")) << Host.Report.Joined();
}

// Z lifts first, then X and Y.
TEST_F(MotionTest, PositioningLiftsZFirst) {
  PosTable[7] = {"Beaker", 20, 5};
  bool ok = false;
  MoveToTopfPosition(PosTable[7].Name, PosTable[7].X, PosTable[7].Y, ok);
  EXPECT_TRUE(ok);
  std::vector<int> order;
  for (const std::string &s : Line.Sent)
    if (s.find(" V=") != std::string::npos) order.push_back(s[1] - '0');
  EXPECT_EQ(order, (std::vector<int>{3, 1, 2}));
  EXPECT_TRUE(Host.Report.Has("$ Move to Position Beaker"));
}

}  // namespace
