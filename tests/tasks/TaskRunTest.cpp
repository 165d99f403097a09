// Start, STOP, Check Syntax and the end of every run.
#include <cmath>

#include "ProcessFixture.h"
#include "tasks/TaskRun.h"

namespace {

class TaskRunTest : public ProcessTest {
protected:
  std::vector<std::string> States;
  void SetUp() override {
    ProcessTest::SetUp();
    SetOpStateListener([this] { States.push_back(OpStateName(OpState())); });
    MachineSettings.HomeX = 1, MachineSettings.HomeY = 2, MachineSettings.HomeZ = 3;
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
};

// STOP while X travels to the first position; Retry in the STOP dialog goes
// on, Abort ends the task with no second box. A Start inside is refused.
TEST_F(TaskRunTest, StopAnsweredDuringPositioning) {
  AppendProcess(Proc("A", 0.2, 0.2, 1));
  Show("A*2");
  for (unsigned answer : {mbRetry, mbAbort}) {
    SCOPED_TRACE(answer);
    States.clear();
    H.Report.Lines.clear();
    H.Operator.Asked.clear();
    const uint32_t before = StopPresses();
    H.Events.OnPump = [this, before] {
      if (StopPresses() == before && Axes[1].Moving) {
        TaskStart();
        TaskStop();
      }
    };
    H.Operator.Answers = {answer};
    TaskStart();
    EXPECT_EQ(H.Operator.Asked.size(), 1u);
    EXPECT_EQ(LoggedCount("  Fast Dips done. "), answer == mbRetry ? 2 : 0);
    if (answer == mbRetry) {
      EXPECT_EQ(States, (std::vector<std::string>{"TaskRunning", "Unwinding", "TaskRunning", "Idle"}));
    }
    EXPECT_EQ(LoggedCount("Task: T"), 1);
    EXPECT_EQ(H.Report.Lines.front().substr(0, 19), "--- Start Task  ---");
    EXPECT_EQ(H.Report.Lines.back(), "-- End Task ---.");
    EXPECT_TRUE(AtHome());
  }
}

// A program told to end while X travels stops it and starts nothing more,
// the move home included, whatever the operator would answer.
TEST_F(TaskRunTest, EndingProgramStartsNoMotion) {
  AppendProcess(Proc("A", 0.2, 0.2, 1));
  Show("A");
  size_t sentAtEnd = 0;
  H.Events.OnPump = [this, &sentAtEnd] {
    if (!ProgramEnding() && Axes[1].Moving) {
      SetProgramEnding();
      StopAll();
      sentAtEnd = Port.Sent.size();
    }
  };
  H.Operator.Answers = {mbRetry, mbRetry, mbRetry};
  TaskStart();
  ASSERT_GT(sentAtEnd, 0u);
  for (size_t i = sentAtEnd; i < Port.Sent.size(); ++i)
    EXPECT_EQ(Port.Sent[i].find(" WA="), std::string::npos) << Port.Sent[i];
  EXPECT_TRUE(Logged("Not moving home: the program is ending"));
  EXPECT_FALSE(Logged("Moving to home position .."));
  EXPECT_EQ(H.Report.Lines.back(), "-- End Task ---.");
  EXPECT_EQ(OpState(), Idle);
}

// Check Syntax lists every term, stops at the first fault and moves nothing.
TEST_F(TaskRunTest, CheckSyntaxListsTermsAndStopsAtTheFirstFault) {
  AppendProcess(Proc("A", 1, 1, 1));
  Show("A*2 + Nope + A");
  CheckSyntax();
  EXPECT_EQ(H.Report.Lines,
            (std::vector<std::string>{"Checking Task(1): T", "Level : 1  A OK", "Level : 1  A OK",
                                      "Level : 1  Nope *** error: 512", "--- End of Check ---"}));
  EXPECT_TRUE(Port.Sent.empty());
  EXPECT_EQ(OpState(), Idle);
}

}  // namespace
