// The time estimate: a two-process task against a hand computation, the
// check's line, the correction of what remains, and the line after a run.
#include <regex>

#include "ProcessFixture.h"
#include "tasks/Estimate.h"
#include "tasks/TaskRun.h"
#include "veri/Transport.h"

namespace {

class EstimateTest : public ProcessTest {
protected:
  void SetUp() override {
    ProcessTest::SetUp();
    MachineSettings.StandardZ = 0;
    MachineSettings.StandardV = 2;
    MachineSettings.HomeX = MachineSettings.HomeY = MachineSettings.HomeZ = 0;
    for (int a = 1; a <= 3; ++a) Axes[a].Position = Port.Ctl(a).Position = 0;
    TProcEntry a = Proc("A", 1.0, 0.0, 2);  // at 4/3, dips from 1 to 3 cm at 1 cm/s
    a.PosNo = 1;
    a.UpperPos = 1, a.LowPos = 3, a.InSpeed = a.OutSpeed = 1;
    TProcEntry b = Proc("B", 0.0, 2.0, 3);  // fast dips at 8/6
    b.UpperPos = 1, b.LowPos = 2, b.InSpeed = b.OutSpeed = 1;
    AppendProcess(a);
    AppendProcess(b);
    AppendTask({"T", "A + B"});
    CurTask = TaskCount;
    VERIResetExchangeMs();
  }
};

TEST_F(EstimateTest, TwoProcessesAgainstAHandComputation) {
  const double x = 0.1, move = 4.5 * x;  // a move: its motion, 4.5 exchanges
  // Motions at 10 cm/s^2: 4 cm at 2 cm/s 2.2 s, 3 cm 1.7 s, 1 cm 0.7 s; a 2 cm stroke at 1 cm/s 2.1 s.
  const double dip = 2 * (2.1 + move) + 1.1 + 0.1;
  // Fast dips: RUN answered at once after the six calls; 22 watch cycles
  // before the one that finds the 6.6 s of strokes over, that one with its
  // status poll, the input and position reads, the top wait.
  const double fast = 6 * 0.03 + 23 * (3 * x + 0.005) + x + 2 * x + 2.1;
  const TTaskEstimate e = EstimateTask("A + B", 100);
  ASSERT_EQ(e.Terms.size(), 2u);
  EXPECT_NEAR(e.Terms[0], 2.2 + 1.7 + 0.7 + 3 * move + 2 * dip, 1e-9);
  EXPECT_NEAR(e.Terms[1], 0.7 + 2.2 + 1.7 + 0.7 + 4 * move + fast, 1e-9);
  EXPECT_NEAR(e.Home, 0.7 + 3.2 + 4.2 + 3 * move, 1e-9);  // from 8/6/1
  EXPECT_NEAR(MoveSeconds(0.01, 2, 100), 6 * x, 1e-9);    // shorter than its first poll
  EXPECT_FALSE(EstimateTask("A*99999 + B", 100).Capped);
  EXPECT_TRUE(EstimateTask("A*99999 + B*2", 100).Capped);
}

TEST_F(EstimateTest, CheckEndsWithTheEstimate) {
  CheckSyntax();  // 270 ms exchanges: 14 moves, 26.4 s motion, 4.5 s waits, fast dips 8.54 s
  EXPECT_EQ(H.Report.Lines.end()[-2], "--- End of Check ---");
  EXPECT_EQ(H.Report.Lines.back(), "Estimated duration: 0 h 0 min 56 s");
}

TEST_F(EstimateTest, RemainingIsCorrectedByTheTermsDone) {
  const TTaskEstimate e = EstimateTask("A + B", VERIDefaultExchangeMs);
  TRunProgress p;
  p.Begin("A + B");
  H.Clock.Now += static_cast<uint32_t>(2000 * e.Terms[0]);  // A took twice its estimate
  p.TermDone();
  EXPECT_NEAR(p.RemainingSeconds(), 2 * (e.Terms[1] + e.Home), 0.01);
  H.Clock.Now += 5000;
  EXPECT_NEAR(p.RemainingSeconds(), 2 * (e.Terms[1] + e.Home) - 5, 0.01);
  H.Clock.Now += 60000;  // B overruns: only the home move is left
  EXPECT_NEAR(p.RemainingSeconds(), 2 * e.Home, 0.01);
  EXPECT_EQ(p.StatusText(), "Elapsed 0:01:53, remaining about 0:00:23");
  p.End();
  EXPECT_EQ(H.Report.Lines.back(),
            "Estimate was 0:00:56, the run took 0:01:53 (ended after 1 of 2 processes)");
  EXPECT_EQ(p.StatusText(), "");
}

TEST_F(EstimateTest, RunEndsWithHowFarTheEstimateWasOff) {
  for (int i = 0; i < 8; ++i) VERIDialog(1, "VER");             // the connection check's exchanges
  EXPECT_EQ(VERIExchangeMs(), 10.0);                            // one 10 ms wait for the reply on this line
  for (int a = 1; a <= 3; ++a) Port.Ctl(a).Acceleration = 100;  // mm/s^2, the model's ramps
  TaskStart();
  ASSERT_GE(H.Report.Lines.size(), 2u);
  std::smatch m;
  const std::string line = H.Report.Lines.end()[-2];
  ASSERT_TRUE(std::regex_match(
      line, m, std::regex(R"(Estimate was 0:00:\d\d, the run took 0:00:\d\d \(([-+]\d+\.\d) %\))")))
      << line;
  EXPECT_LT(std::fabs(std::stod(m[1])), 2.0);
  EXPECT_EQ(H.Report.Lines.back(), "-- End Task ---.");
}

}  // namespace

// Each kind of exchange at its own time, the acceleration of the machine
// description, and waits held to their deadlines however long a step's
// events take.
TEST_F(EstimateTest, ExchangeKindsAccelerationAndWaitDeadlines) {
  // A move too short for its first poll: its command (a write), one poll
  // cycle of two reads, three reads after.
  EXPECT_NEAR(MoveSeconds(0.01, 2, 10, 250), 0.25 + 0.02 + 0.03, 1e-9);
  const TTaskEstimate alike = EstimateTask("A + B", 100);
  const TTaskEstimate kinds = EstimateTask("A + B", TExchangeTimes{100, 100, 30});
  EXPECT_NEAR(alike.Total(), kinds.Total(), 1e-9);
  // A's output channel switched at every step: 12 writes.
  const double unwired = EstimateTask("A + B", TExchangeTimes{100, 250, 30}).Total();
  ProcTable[1].ChNo = 2, ProcTable[1].ChMode = 1;
  EXPECT_NEAR(EstimateTask("A + B", TExchangeTimes{100, 250, 30}).Total() - unwired, 12 * 0.25, 1e-9);
  for (int a = 1; a <= 3; ++a) Axes[a].Acceleration = 100;
  EXPECT_LT(EstimateTask("A + B", 100).Total(), alike.Total() - 1.0);
  EXPECT_NEAR(MotionSeconds(4, 2, 100), 2.02, 1e-9);
  // Events of 30 ms at every step of a 1 s wait (11 steps): 1.1 s in all,
  // the last step's events after it.
  H.Events.OnPump = [&] { H.Clock.Now += 30; };
  const uint32_t t0 = H.Clock.Now;
  WaitWithBar(1.0, nullptr);
  EXPECT_EQ(H.Clock.Now - t0, 1130u);
}
