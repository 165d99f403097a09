// Check mode, the recipe tests and the positioning's error words.
#include "ProcessFixture.h"
#include "tasks/TaskLanguage.h"
#include "tasks/TaskRun.h"

namespace {

uint16_t Check(const std::string &line) { return ParseTask(line, TaskModeCheck, RunProcess); }

TEST_F(ProcessTest, CheckListsEveryTermAndStopsAtTheFirstFault) {
  AppendProcess(Proc("A", 1, 1, 1));
  AppendProcess(Proc("B", 1, 1, 1));
  MachineSettings.StandardV = 1.5;
  CurrentSpeed = 0.2;

  EXPECT_EQ(Check("A*3 + Nope + B"), 512);
  EXPECT_EQ(H.Report.Lines, (std::vector<std::string>{"Level : 1  A OK", "Level : 1  A OK", "Level : 1  A OK",
                                                      "Level : 1  Nope *** error: 512"}));
  // 100 ms per listed term, nothing sent, speed reset as a side effect.
  EXPECT_EQ(H.Clock.Slept, 300u);
  EXPECT_TRUE(Port.Sent.empty());
  EXPECT_DOUBLE_EQ(CurrentSpeed, 1.5);
}

TEST_F(ProcessTest, CheckErrorWordsOfEachRecipeTest) {
  TProcEntry far = Proc("Far", 1, 1, 1), slow = far, back = far;
  far.PosNo = 3;
  slow.Name = "Slow";
  slow.OutSpeed = 0;
  back.Name = "Back";
  back.PosNo = 0;  // the placeholder position passes
  for (auto &e : {far, slow, back}) AppendProcess(e);
  // The last of two equal names wins.
  AppendProcess(Proc("Slow", 1, 1, 1));

  EXPECT_EQ(Check("Far"), 1024);
  EXPECT_EQ(Check("Slow + Back"), 0);
  ProcTable[4].InSpeed = -1;
  EXPECT_EQ(Check("Slow"), 2048);
  EXPECT_EQ(Check("slow"), 512);
  EXPECT_TRUE(Logged("Level : 1  Far *** error: 1024"));
  EXPECT_TRUE(Logged("Level : 1  Slow *** error: 2048"));

  ProcCount = 0;
  EXPECT_EQ(Check("Far"), 256);
  PosCount = 0;
  EXPECT_EQ(Check("(Far)"), 128);
  EXPECT_TRUE(Logged("Level : 2  Far *** error: 128"));
  // Run mode writes nothing for a failed test.
  const size_t lines = H.Report.Lines.size();
  EXPECT_EQ(Run("Far"), 128);
  EXPECT_EQ(H.Report.Lines.size(), lines);
}

TEST_F(ProcessTest, CheckSyntaxFramesTheList) {
  AppendProcess(Proc("A", 1, 1, 1));
  AppendProcess(Proc("B", 1, 1, 1));
  AppendTask({"Empty", ""});
  AppendTask({"Three", "A + B C"});
  CurTask = 1;
  CheckSyntax();
  CurTask = 2;
  CheckSyntax();
  EXPECT_EQ(H.Report.Lines,
            (std::vector<std::string>{"Checking Task(1): Empty", "--- End of Check ---", "Checking Task(2): Three",
                                      "Level : 1  A OK", "Level : 1  B OK", "--- End of Check ---"}));
  EXPECT_EQ(OpState(), Idle);
}

// A count in the millions lists for days; STOP ends the listing at once.
TEST_F(ProcessTest, StopEndsALongCheck) {
  AppendProcess(Proc("A", 1, 1, 1));
  AppendTask({"Long", "A*1000000"});
  CurTask = 1;
  int listed = 0;
  H.Events.OnPump = [&] {
    EXPECT_EQ(OpState(), TaskRunning);  // Start and the editors are locked meanwhile
    if (++listed == 3) TaskStop();
  };
  CheckSyntax();
  EXPECT_EQ(listed, 3);
  EXPECT_TRUE(Logged("Stop Execution"));
  EXPECT_EQ(H.Report.Lines.back(), "--- End of Check ---");
  EXPECT_EQ(OpState(), Idle);
  AbortRequest = StopRequest = false;
}

// Positioning fails on a controller that stopped answering: the STOP dialog
// of the move, then the process's own. Abort sets bit 13; Retry runs the
// process again once the controller answers.
TEST_F(ProcessTest, FailedPositioningAbortOrRetry) {
  AppendProcess(Proc("A", 0.1, 0.1, 1));
  Port.Control("mute 1");
  Op.Answers = {mbAbort, mbAbort};
  EXPECT_EQ(Run("A"), 8192);
  EXPECT_EQ(Op.Texts.size(), 2u);
  EXPECT_EQ(MovesTo(3, 60), 0);  // no stroke

  Op.Texts.clear();
  Op.Answers = {mbAbort, mbRetry};
  Op.After = [this] {
    if (Op.Texts.size() == 2) Port.Control("unmute 1");
  };
  EXPECT_EQ(Run("A"), 0);
  EXPECT_EQ(LoggedCount("   Position: Coat"), 3);
  EXPECT_EQ(LoggedCount("  Fast Dips done. "), 1);
  EXPECT_EQ(MovesTo(3, 60), 1);
  EXPECT_NEAR(Axes[1].Position, 8, 0.01);
}

}  // namespace
