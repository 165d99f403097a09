// The recipe tables: placeholders, default entries, limits, delete, lookup.
#include "RecipeFixture.h"

namespace {

using TDefinitions = TRecipeTest;

TEST_F(TDefinitions, ResetLeavesOnlyThePlaceholders) {
  AddPosition();
  AddProcess();
  AddTask();
  PosTable[0].Name = ProcTable[0].Name = TaskTable[0].Name = "edited";
  TaskTable[0].Line = "x";
  ResetDefinitions();
  EXPECT_EQ(PosCount + ProcCount + TaskCount + CurPos + CurProc + CurTask, 0);
  EXPECT_EQ(PosTable[0].Name, "undefined");
  EXPECT_EQ(ProcTable[0].Name, "undefined");
  EXPECT_EQ(ProcTable[0].InTime, 0);
  EXPECT_EQ(TaskTable[0].Name, "none");
  EXPECT_EQ(TaskTable[0].Line, "");
  EXPECT_EQ(PosNameNo, 1);
  EXPECT_EQ(ProcNameNo, 0);
  EXPECT_EQ(TaskNameNo, 0);
  // The first new entries after a reset.
  AddPosition();
  AddProcess();
  AddTask();
  EXPECT_EQ(PosTable[1].Name, "Pos1");
  EXPECT_EQ(ProcTable[1].Name, "TunkProc1");
  EXPECT_EQ(TaskTable[1].Name, "Task1");
}

TEST_F(TDefinitions, TablesStopAtTheirLastSlot) {
  for (int i = 0; i < 255; ++i) ASSERT_TRUE(AddPosition());
  EXPECT_EQ(PosCount, 255);
  EXPECT_EQ(PosTable[255].Name, "Pos255");
  EXPECT_FALSE(AddPosition());
  EXPECT_FALSE(AppendPosition(TPosEntry{"more", 1, 1}));
  EXPECT_EQ(PosCount, 255);
  EXPECT_EQ(PosNameNo, 256);  // a refused New numbers nothing

  for (int i = 0; i < 127; ++i) ASSERT_TRUE(AddProcess());
  EXPECT_FALSE(AddProcess());
  EXPECT_EQ(ProcCount, 127);
  EXPECT_EQ(ProcNameNo, 127);

  for (int i = 0; i < 31; ++i) ASSERT_TRUE(AddTask());
  CurTask = 5;
  EXPECT_FALSE(AddTask());
  EXPECT_EQ(TaskCount, 31);
  EXPECT_EQ(CurTask, 5);  // a refused New leaves the shown slot
}

TEST_F(TDefinitions, DeleteMovesLaterEntriesDown) {
  for (int i = 0; i < 5; ++i) AddPosition();
  CurPos = 2;
  ASSERT_TRUE(DeletePosition());
  EXPECT_EQ(PosCount, 4);
  EXPECT_EQ(CurPos, 2);
  EXPECT_EQ(PosTable[1].Name, "Pos1");
  EXPECT_EQ(PosTable[2].Name, "Pos3");
  EXPECT_EQ(PosTable[4].Name, "Pos5");
  // The last one: the shown slot moves down with it; numbers never go back.
  CurPos = 4;
  ASSERT_TRUE(DeletePosition());
  EXPECT_EQ(CurPos, 3);
  AddPosition();
  EXPECT_EQ(PosTable[4].Name, "Pos6");
}

TEST_F(TDefinitions, DeleteKeepsTheProcessesPositionNumbers) {
  for (int i = 0; i < 3; ++i) AddPosition();
  AddProcess();  // names position 3
  CurPos = 1;
  DeletePosition();
  EXPECT_EQ(ProcTable[1].PosNo, 3);
}

TEST_F(TDefinitions, DeleteNeverTouchesThePlaceholder) {
  EXPECT_FALSE(DeletePosition());  // empty table
  AddTask();
  AddTask();
  CurTask = 0;
  EXPECT_FALSE(DeleteTask());
  EXPECT_EQ(TaskCount, 2);
  EXPECT_EQ(TaskTable[0].Name, "none");
  EXPECT_EQ(TaskTable[1].Name, "Task1");
  AddProcess();
  CurProc = 0;
  EXPECT_FALSE(DeleteProcess());
  EXPECT_EQ(ProcTable[0].Name, "undefined");
  EXPECT_EQ(FindProcessByName("TunkProc1"), 1);
}

TEST_F(TDefinitions, FindTakesTheLastProcessOfThatName) {
  EXPECT_EQ(FindProcessByName("undefined"), 0);  // the placeholder is never found
  for (int i = 0; i < 4; ++i) AddProcess();
  ProcTable[2].Name = "Dip";
  ProcTable[3].Name = "Dip";
  EXPECT_EQ(FindProcessByName("Dip"), 3);
  EXPECT_EQ(FindProcessByName("dip"), 0);
  EXPECT_EQ(FindProcessByName("TunkProc4"), 4);
  EXPECT_EQ(FindProcessByName(""), 0);
  // Slots above the count keep old entries; they are not found either.
  ProcCount = 2;
  EXPECT_EQ(FindProcessByName("Dip"), 2);
  EXPECT_EQ(FindProcessByName("TunkProc4"), 0);
}

}  // namespace
