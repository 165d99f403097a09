// The recipe tables: default entries, limits, delete.
#include "RecipeFixture.h"

namespace {

using TDefinitions = TRecipeTest;

TEST_F(TDefinitions, TablesStopAtTheirLastSlot) {
  for (int i = 0; i < 255; ++i) ASSERT_TRUE(AddPosition());
  EXPECT_EQ(PosTable[255].Name, "Pos255");
  EXPECT_FALSE(AddPosition());
  EXPECT_EQ(PosCount, 255);
  for (int i = 0; i < 127; ++i) ASSERT_TRUE(AddProcess());
  EXPECT_FALSE(AddProcess());
  for (int i = 0; i < 31; ++i) ASSERT_TRUE(AddTask());
  EXPECT_FALSE(AddTask());
  EXPECT_EQ(TaskCount, 31);
}

TEST_F(TDefinitions, DeleteMovesLaterEntriesDownAndSparesThePlaceholder) {
  for (int i = 0; i < 5; ++i) AddPosition();
  CurPos = 2;
  ASSERT_TRUE(DeletePosition());
  EXPECT_EQ(PosCount, 4);
  EXPECT_EQ(CurPos, 2);
  EXPECT_EQ(PosTable[2].Name, "Pos3");
  EXPECT_EQ(PosTable[4].Name, "Pos5");
  // The last one: the shown slot moves down with it; numbers never go back.
  CurPos = 4;
  ASSERT_TRUE(DeletePosition());
  EXPECT_EQ(CurPos, 3);
  AddPosition();
  EXPECT_EQ(PosTable[4].Name, "Pos6");
  CurPos = 0;
  EXPECT_FALSE(DeletePosition());
  EXPECT_EQ(PosTable[0].Name, "undefined");
}

}  // namespace
