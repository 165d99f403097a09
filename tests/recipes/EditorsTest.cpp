// The editors' logic without widgets: names, range limits and Goto XY.
#include "RecipeFixture.h"
#include "support/SimLinePort.h"
#include "base/Convert.h"
#include "base/OpState.h"
#include "machine/Motion.h"
#include "recipes/Editors.h"

namespace {

TEST(EditorNames, BlanksAndSemicolonsCannotSplitARecord) {
  EXPECT_EQ(CleanName("Beaker 1;a\tb"), "Beaker_1_a_b");
  EXPECT_EQ(CleanName("ABCDEFGHIJKLMNOPQRS"), "ABCDEFGHIJKLMNOP");
}

class TEditors : public TRecipeTest {
protected:
  THostFixture Host;
};

TEST_F(TEditors, FieldsAreLimitedAndBadTextKeepsTheValue) {
  AddPosition();
  EXPECT_EQ(TakePosCoord(1, "99"), 54);  // TravelMax X
  EXPECT_EQ(TakePosCoord(1, "-3"), 0);
  EXPECT_EQ(TakePosCoord(2, " 12.5 "), 12.5);
  EXPECT_EQ(PosTable[1].Y, 12.5);
  for (const char *bad : {"abc", "", "1,5", "nan"}) EXPECT_THROW(TakePosCoord(2, bad), EConvertError) << bad;
  EXPECT_EQ(PosTable[1].Y, 12.5);
  AddProcess();
  EXPECT_EQ(TakeProcNumber(TProcNumber::LowPos, "30"), 25);  // Z travel
  EXPECT_EQ(TakeProcNumber(TProcNumber::OutSpeed, "5"), 2);  // Z's highest speed
  EXPECT_EQ(TakeProcNumber(TProcNumber::InTime, "-2"), -2);  // times have no range
  EXPECT_EQ(ProcTable[1].LowPos, 25);
}

TEST_F(TEditors, GotoXYLiftsZThenMovesYAndX) {
  TSimLinePort line;
  StopRequest = false;
  SetOpState(Idle);
  for (int a = 1; a <= 3; ++a) {
    line.Ctl(a).MotorOn = true;
    Axes[a].Position = line.Ctl(a).Position / 10.0;
    Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
  }
  MachineSettings.StandardZ = 4;
  EXPECT_THROW(GotoXY("12", "y?"), EConvertError);
  EXPECT_TRUE(line.Sent.empty());
  GotoXY("12.5", "99");  // Y beyond its travel goes only as far as the travel
  std::vector<int> order;
  for (const std::string &s : line.Sent)
    if (s.find(" V=") != std::string::npos) order.push_back(s[1] - '0');
  EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));
  EXPECT_NEAR(Axes[3].Position, 4, 0.01);
  EXPECT_NEAR(Axes[2].Position, 20.5, 0.01);
  EXPECT_NEAR(Axes[1].Position, 12.5, 0.01);
}

}  // namespace
