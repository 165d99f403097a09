// Run mode: step-by-step dips, the output channel, waits, fast dips, STOP.
#include <cmath>
#include <limits>

#include "ProcessFixture.h"

namespace {

struct TFakeWaitView : IWaitView {
  std::vector<std::string> Shown;
  std::vector<int> Max;
  int Position = 0;
  int Hidden = 0;
  void ShowWait(const std::string &label, int max) override {
    Shown.push_back(label);
    Max.push_back(max);
  }
  void SetWaitPosition(int position) override { Position = position; }
  void HideWait() override { ++Hidden; }
};

struct TViewScope {
  IWaitView *Saved;
  explicit TViewScope(IWaitView *v) : Saved(SetWaitView(v)) {}
  ~TViewScope() { SetWaitView(Saved); }
};

TEST_F(ProcessTest, WaitsTakeNPlusOneSteps) {
  TFakeWaitView view;
  TViewScope scope(&view);
  for (auto r : {std::pair<double, uint64_t>{1.0, 1100}, {0, 100}, {-3, 100}, {0.25, 300}, {std::nan(""), 100}}) {
    H.Clock.Slept = 0;
    WaitWithBar(r.first);
    EXPECT_EQ(H.Clock.Slept, r.second) << r.first;
  }
  EXPECT_TRUE(view.Shown.empty());  // 5 s and less: no bar

  H.Clock.Slept = 0;
  WaitWithBar(7.3);
  EXPECT_EQ(view.Shown, std::vector<std::string>{"Wait 7sec"});
  EXPECT_EQ(view.Max, std::vector<int>{73});
  EXPECT_EQ(H.Clock.Slept, 7400u);
  EXPECT_EQ(view.Position, 74);
  EXPECT_GE(view.Hidden, 1);

  // Absurd times are limited instead of overflowing; a half goes to the
  // even neighbour.
  const double inf = std::numeric_limits<double>::infinity();
  for (auto r : {std::pair<double, int>{1e300, 864000}, {-1e300, -864000}, {inf, 864000}, {std::nan(""), 0}, {0.25, 2}})
    EXPECT_EQ(WaitTenths(r.first), r.second) << r.first;
}

TEST_F(ProcessTest, StopEndsALongWaitWithinOneStep) {
  TFakeWaitView view;
  TViewScope scope(&view);
  H.Events.OnPump = [] { AbortRequest = true; };
  WaitWithBar(60);
  EXPECT_EQ(H.Clock.Slept, 100u);
  EXPECT_EQ(view.Shown, std::vector<std::string>{"Wait 60sec"});
  EXPECT_EQ(view.Hidden, 1);
  // Huge waits are cut short the same way.
  H.Clock.Slept = 0;
  WaitWithBar(1e300);
  EXPECT_EQ(H.Clock.Slept, 100u);
  EXPECT_EQ(view.Max.back(), 864000);
}

TEST_F(ProcessTest, ChannelModesWriteTheirSequence) {
  const char *expected[] = {"000000", "010000", "000100", "111110", "001000", "000010", "000000", "000000"};
  for (int mode = 0; mode <= 7; ++mode) {
    Port.Sent.clear();
    for (int step = 1; step <= 6; ++step) ChannelAction(2, mode == 7 ? -1 : mode, step);
    EXPECT_EQ(OutputWrites(), expected[mode]) << "mode " << mode;
  }
  EXPECT_TRUE(Logged("$ ChMode, ProcAction, ChNumber, Action:3; 5; 2; 1"));
  EXPECT_EQ(DigOutTable[2].State, 0);

  // Channel 0 writes nothing; a channel beyond the table only logs.
  Port.Sent.clear();
  const size_t lines = H.Report.Lines.size();
  for (int step = 1; step <= 6; ++step) ChannelAction(0, 3, step);
  EXPECT_EQ(H.Report.Lines.size(), lines);
  ChannelAction(99, 3, 2);
  EXPECT_TRUE(Port.Sent.empty());
}

TEST_F(ProcessTest, StepByStepDips) {
  TProcEntry e = Proc("A", 2.0, 1.0, 3);
  e.ChNo = 2;
  e.ChMode = 1;
  AppendProcess(e);
  EXPECT_EQ(Run("A", 4), 0);
  EXPECT_TRUE(Logged("  Fast Dip 3 of 3"));
  EXPECT_EQ(H.Report.Lines[0].substr(12), "(Level: 1, Process: A)*(n= 4)");
  EXPECT_EQ(MovesTo(3, 60), 3);           // three strokes down
  EXPECT_EQ(MovesTo(3, 50), 4);           // top before the dips, and three up
  EXPECT_EQ(OutputWrites(), "010000010000010000");
  EXPECT_NEAR(Axes[3].Position, 5, 0.01);
}

TEST_F(ProcessTest, NoDipsStillRunsOneCycle) {
  AppendProcess(Proc("A", 0.5, 0.5, 0));
  EXPECT_EQ(Run("A"), 0);
  EXPECT_TRUE(Logged("  Fast Dip 1 of 0"));
  EXPECT_FALSE(Logged("  Fast Dip 2 of 0"));
  EXPECT_EQ(MovesTo(3, 60), 1);
}

TEST_F(ProcessTest, StopDuringAStrokeEndsTheProcess) {
  AppendProcess(Proc("A", 0.5, 0.5, 3));
  // STOP once the first down stroke is under way.
  H.Events.OnPump = [this] {
    if (MovesTo(3, 60) == 1 && !AbortRequest) {
      StopRequest = AbortRequest = true;
      ++StopPresses;
    }
  };
  EXPECT_EQ(Run("A"), 4096);
  EXPECT_EQ(MovesTo(3, 60), 1);
  EXPECT_EQ(MovesTo(3, 50), 1);  // only the move to the top before the dips
  EXPECT_EQ(CountOf(3, "S"), 1);
  EXPECT_FALSE(Logged("  Fast Dip 2 of 3"));
  EXPECT_TRUE(Logged("  Fast Dips done. "));
}

TEST_F(ProcessTest, FastDips) {
  TProcEntry e = Proc("F", 0, 0, 2);
  e.UpperPos = 5.5;
  e.LowPos = 12.25;
  e.InSpeed = 1.5;
  e.OutSpeed = 0.75;
  AppendProcess(e);
  EXPECT_EQ(Run("F"), 0);
  std::vector<std::string> cmds;
  for (auto &c : Commands(3))
    if (c.rfind("R", 0) == 0 || c.rfind("C1", 0) == 0 || c.rfind("M1", 0) == 0) cmds.push_back(c);
  EXPECT_EQ(cmds, (std::vector<std::string>{"R0 = 55.0000", "R1 = 122.5000", "R2 = 450.0000", "R3 = 900.0000",
                                            "C1 = 2", "M1 = 1", "RUN"}));
  EXPECT_EQ(MovesTo(3, 122), 0);  // no strokes from here
  EXPECT_TRUE(Logged("FastDips to do: 1"));
  EXPECT_TRUE(Logged("... done with FastDips"));
  EXPECT_FALSE(Axes[3].Moving);
  EXPECT_NEAR(Axes[3].Position, 5.5, 0.01);
  EXPECT_GT(Port.Ctl(3).Position, 0);
}

TEST_F(ProcessTest, FastDipsOnAnotherAddress) {
  Axes[3].HWAddress = 1;
  AppendProcess(Proc("F", 0, 0, 1));
  EXPECT_EQ(Run("F"), 0);
  EXPECT_EQ(CountOf(1, "RUN"), 1);
  EXPECT_EQ(CountOf(3, "RUN"), 0);
  EXPECT_EQ(CountOf(1, "R1 = 60.0000"), 1);
  // The position refresh of the watch goes to axis 1, which the program
  // left at the top of its dips.
  EXPECT_NEAR(Axes[1].Position, 5, 0.01);
}

TEST_F(ProcessTest, StopDuringFastDips) {
  AppendProcess(Proc("F", 0, 5, 20));
  H.Events.OnPump = [this] {
    if (CountOf(3, "RUN") == 1 && CountOf(3, "P0?") == 3 && !AbortRequest) {
      StopRequest = AbortRequest = true;
      ++StopPresses;
    }
  };
  EXPECT_EQ(Run("F"), 4096);
  EXPECT_GE(CountOf(3, "S"), 1);
  EXPECT_TRUE(Logged("... done with FastDips"));
  EXPECT_FALSE(Port.Ctl(3).Moving());
  EXPECT_GT(Port.Ctl(3).DipsToDo, 0);
}

TEST_F(ProcessTest, EmergencyStopDuringFastDips) {
  AppendProcess(Proc("F", 0, 0, 3));
  bool pressed = false;
  H.Events.OnPump = [&] {
    if (!pressed && CountOf(3, "P0?") == 5) {
      pressed = true;
      Port.Control("estop 3 press");
    }
  };
  // Abort goes on: released first, the program resumes and is watched again.
  Op.Answers = {mbAbort};
  Op.After = [this] { Port.Control("estop 3 release"); };
  EXPECT_EQ(Run("F"), 0);
  ASSERT_EQ(Op.Texts.size(), 1u);
  EXPECT_EQ(Op.Texts[0],
            "        *** EMERGENCY STOP ***         \r\nTo continue release red PUSH button \r\n(turn it right) \r\n"
            "Completely abort Task?.");
  EXPECT_EQ(CountOf(3, "RUN"), 2);
  EXPECT_EQ(Port.Ctl(3).DipsToDo, 0);
  EXPECT_TRUE(Axes[3].StopActive);

  // Yes ends the task.
  Port.Sent.clear();
  pressed = false;
  Op.Answers = {mbYes};
  Op.After = nullptr;
  EXPECT_EQ(Run("F"), 4096);
  EXPECT_EQ(CountOf(3, "S"), 1);
  EXPECT_EQ(CountOf(3, "RUN"), 1);
}

TEST_F(ProcessTest, LostControllerDuringFastDips) {
  AppendProcess(Proc("F", 0, 0, 5));
  H.Events.OnPump = [this] {
    if (CountOf(3, "P0?") == 2) Port.Control("mute 3");
  };
  EXPECT_EQ(Run("F"), 4096);
  EXPECT_TRUE(H.Report.HasPrefix("*** Fast Dips stopped: no valid answer from axis 3"));
  EXPECT_FALSE(Axes[3].Moving);
  EXPECT_TRUE(Op.Texts.empty());  // no false emergency alarm
}

}  // namespace
