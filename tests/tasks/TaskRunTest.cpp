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
