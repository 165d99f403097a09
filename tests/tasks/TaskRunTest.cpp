// Start, STOP, Check Syntax and the end of every run.
#include "ProcessFixture.h"
#include "tasks/TaskRun.h"

namespace {

class TaskRunTest : public ProcessTest {
protected:
  void SetUp() override {
    ProcessTest::SetUp();
    MachineSettings.HomeX = 1, MachineSettings.HomeY = 2, MachineSettings.HomeZ = 3;
  }
  void Show(const std::string &line) {
    AppendTask({"T", line});
    CurTask = TaskCount;
  }
};

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
