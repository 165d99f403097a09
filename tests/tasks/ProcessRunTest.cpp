// Run mode: waits, the output channel, step-by-step and fast dips.
#include "ProcessFixture.h"

namespace {

struct TFakeWaitView : IWaitView {
  std::vector<std::string> Shown;
  std::vector<int> Max;
  void ShowWait(const std::string &label, int max) override {
    Shown.push_back(label);
    Max.push_back(max);
  }
  void SetWaitPosition(int) override {}
  void HideWait() override {}
};

TEST_F(ProcessTest, WaitsTakeNPlusOneStepsAndStopEndsThem) {
  TFakeWaitView view;
  for (auto r : {std::pair<double, uint64_t>{1.0, 1100}, {0, 100}, {0.25, 300}, {7.3, 7400}}) {
    H.Clock.Slept = 0;
    WaitWithBar(r.first, &view);
    EXPECT_EQ(H.Clock.Slept, r.second) << r.first;
  }
  // Only waits above 5 s show the bar.
  EXPECT_EQ(view.Shown, std::vector<std::string>{"Wait 7sec"});
  EXPECT_EQ(view.Max, std::vector<int>{73});

  H.Events.OnPump = [] { StopLatch().Press(true, "test"); };
  H.Clock.Slept = 0;
  WaitWithBar(60, &view);
  EXPECT_EQ(H.Clock.Slept, 100u);
}

TEST_F(ProcessTest, ChannelModesWriteTheirSequence) {
  const char *expected[] = {"000000", "010000", "000100", "111110", "001000", "000010", "000000", "000000"};
  for (int mode = 0; mode <= 7; ++mode) {
    Port.Sent.clear();
    for (int step = 1; step <= 6; ++step) ChannelAction(2, mode == 7 ? -1 : mode, step);
    EXPECT_EQ(OutputWrites(), expected[mode]) << "mode " << mode;
  }
  // Channel 0 writes nothing.
  Port.Sent.clear();
  for (int step = 1; step <= 6; ++step) ChannelAction(0, 3, step);
  EXPECT_TRUE(Port.Sent.empty());
}

TEST_F(ProcessTest, StepByStepDips) {
  TProcEntry e = Proc("A", 2.0, 1.0, 3);
  e.ChNo = 2;
  e.ChMode = 1;
  AppendProcess(e);
  EXPECT_EQ(Run("A", 4), 0);
  EXPECT_EQ(H.Report.Lines[0].substr(12), "(Level: 1, Process: A)*(n= 4)");
  EXPECT_TRUE(Logged("  Fast Dip 3 of 3"));
  EXPECT_EQ(MovesTo(3, 60), 3);  // three strokes down
  EXPECT_EQ(MovesTo(3, 50), 4);  // top before the dips, and three up
  EXPECT_EQ(OutputWrites(), "010000010000010000");
  EXPECT_NEAR(Axes[3].Position, 5, 0.01);
}

// A bottom wait of 0 hands the dips to the Z controller, wherever Z is wired.
TEST_F(ProcessTest, FastDipsRunOnTheZController) {
  Axes[3].HWAddress = 1;
  TProcEntry e = Proc("F", 0, 0, 2);
  e.UpperPos = 5.5;
  e.LowPos = 12.25;
  e.InSpeed = 1.5;
  e.OutSpeed = 0.75;
  AppendProcess(e);
  EXPECT_EQ(Run("F"), 0);
  std::vector<std::string> cmds;
  for (auto &c : Port.Commands(1))
    if (c.rfind("R", 0) == 0 || c.rfind("C1", 0) == 0 || c.rfind("M1", 0) == 0) cmds.push_back(c);
  EXPECT_EQ(cmds, (std::vector<std::string>{"R0 = 55.0000", "R1 = 122.5000", "R2 = 450.0000", "R3 = 900.0000",
                                            "C1 = 2", "M1 = 1", "RUN"}));
  EXPECT_EQ(CountOf(3, "RUN"), 0);
  EXPECT_EQ(MovesTo(1, 122), 0);  // no strokes
  EXPECT_TRUE(Logged("... done with FastDips"));
  EXPECT_NEAR(Axes[1].Position, 5.5, 0.01);
}

}  // namespace
