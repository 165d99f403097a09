// Start, STOP and the end of every run.
#include <cmath>
#include <regex>

#include "ProcessFixture.h"
#include "tasks/TaskRun.h"

namespace {

class TaskRunTest : public ProcessTest {
protected:
  std::vector<std::string> States;
  void SetUp() override {
    ProcessTest::SetUp();
    SetOpStateListener([this] { States.push_back(OpStateName(OpState())); });
    MachineSettings.HomeX = 1;
    MachineSettings.HomeY = 2;
    MachineSettings.HomeZ = 3;
  }
  void TearDown() override {
    SetOpStateListener(nullptr);
    ProcessTest::TearDown();
  }
  void Show(const std::string &line) {
    AppendTask({"T", line});
    CurTask = TaskCount;
  }
  bool AtHome() const {
    return std::fabs(Axes[1].Position - 1) < 0.01 && std::fabs(Axes[2].Position - 2) < 0.01 &&
           std::fabs(Axes[3].Position - 3) < 0.01;
  }
  void PressStop() {
    if (OpState() == TaskRunning) TaskStop();
  }
};

TEST_F(TaskRunTest, EmptyTaskWritesFramesAndGoesHome) {
  Show("");
  TaskStart();
  ASSERT_GE(H.Report.Lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(H.Report.Lines[0], std::regex(R"(--- Start Task  ---\d\d\.\d\d\.\d\d \d\d:\d\d)")));
  EXPECT_EQ(H.Report.Lines[1], "Task: T");
  EXPECT_TRUE(Logged("Moving to home position .."));
  EXPECT_EQ(H.Report.Lines.back(), "-- End Task ---.");
  EXPECT_TRUE(AtHome());
  EXPECT_EQ(States, (std::vector<std::string>{"TaskRunning", "Idle"}));
}

TEST_F(TaskRunTest, StopDuringAWaitEndsTheTask) {
  AppendProcess(Proc("A", 30, 30, 5));
  AppendProcess(Proc("B", 1, 1, 1));
  Show("A*3 + B");
  std::string stateAfterStop;
  H.Clock.OnSleep = [&] {
    if (H.Clock.Slept > 20000 && !AbortRequest) {
      PressStop();
      stateAfterStop = OpStateName(OpState());
    }
  };
  TaskStart();
  EXPECT_EQ(stateAfterStop, "Unwinding");
  EXPECT_TRUE(Logged("Stop Execution"));
  EXPECT_EQ(MovesTo(3, 60), 1);
  EXPECT_LE(LoggedCount("  Fast Dips done. "), 1);
  EXPECT_EQ(H.Report.Lines.back(), "-- End Task ---.");
  EXPECT_TRUE(AtHome());
  EXPECT_EQ(States.back(), "Idle");
  EXPECT_FALSE(AbortRequest);
}

TEST_F(TaskRunTest, StopBetweenStepsStopsBeforeTheNextMove) {
  AppendProcess(Proc("A", 0.2, 0.2, 1));
  AppendProcess(Proc("B", 0.2, 0.2, 1));
  Show("A + B");
  // STOP in the events processed at the end of process A.
  H.Events.OnPump = [this] {
    if (LoggedCount("  Fast Dips done. ") == 1 && !AbortRequest) PressStop();
  };
  TaskStart();
  EXPECT_EQ(LoggedCount("  Fast Dips done. "), 1);
  EXPECT_EQ(LoggedCount("  Fast Dip 1 of 1"), 1);
  EXPECT_EQ(H.Report.Lines.back(), "-- End Task ---.");
  EXPECT_TRUE(AtHome());
}

// STOP while X travels to the first position; Retry in the STOP dialog goes
// on, Abort ends the task with no second box.
TEST_F(TaskRunTest, StopAnsweredDuringPositioning) {
  AppendProcess(Proc("A", 0.2, 0.2, 1));
  Show("A*2");
  for (unsigned answer : {mbRetry, mbAbort}) {
    SCOPED_TRACE(answer);
    States.clear();
    H.Report.Lines.clear();
    Op.Texts.clear();
    StopPresses = 0;
    H.Events.OnPump = [this] {
      if (StopPresses == 0 && Axes[1].Moving) PressStop();
    };
    Op.Answers = {answer};
    TaskStart();
    EXPECT_EQ(Op.Texts.size(), 1u);
    EXPECT_EQ(LoggedCount("  Fast Dips done. "), answer == mbRetry ? 2 : 0);
    if (answer == mbRetry)
      EXPECT_EQ(States, (std::vector<std::string>{"TaskRunning", "Unwinding", "TaskRunning", "Idle"}));
    EXPECT_EQ(H.Report.Lines.back(), "-- End Task ---.");
    EXPECT_TRUE(AtHome());
  }
}

TEST_F(TaskRunTest, ControllerLostMidRunGivesTheControlsBack) {
  AppendProcess(Proc("A", 0.5, 0.5, 3));
  Show("A*2");
  H.Events.OnPump = [this] {
    if (MovesTo(3, 60) == 2) Port.Control("mute 3");
  };
  TaskStart();
  EXPECT_TRUE(H.Report.HasPrefix("*** Move [3]"));
  EXPECT_TRUE(Logged("Moving to home position .."));
  EXPECT_EQ(H.Report.Lines.back(), "-- End Task ---.");
  EXPECT_EQ(OpState(), Idle);
  EXPECT_EQ(LoggedCount("  Fast Dips done. "), 1);
}

TEST_F(TaskRunTest, SecondStartInsideARunIsRefused) {
  AppendProcess(Proc("A", 1, 0.2, 1));
  Show("A");
  int nested = 0;
  H.Events.OnPump = [&] {
    if (nested++ == 3) TaskStart();
  };
  TaskStart();
  EXPECT_EQ(LoggedCount("-- End Task ---."), 1);
  EXPECT_EQ(LoggedCount("Task: T"), 1);
}

}  // namespace
