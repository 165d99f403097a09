// The editors' logic without widgets: formats, range limits, names, the
// task-line builder, the Get buttons and Goto XY.
#include "RecipeFixture.h"
#include "support/SimLinePort.h"
#include "base/Convert.h"
#include "base/OpState.h"
#include "machine/Motion.h"
#include "recipes/Editors.h"

namespace {

class TEditors : public TRecipeTest {
protected:
  THostFixture Host;
};

TEST(EditorFormats, PositionsAndTimes) {
  EXPECT_EQ(FormatPosition(12.3), "12.30");
  EXPECT_EQ(FormatPosition(-0.5), "-0.50");
  EXPECT_EQ(FormatPosition(123.456), "123.46");
  EXPECT_EQ(FormatPosition(1234.56), "1234.60");  // 5 significant digits first
  EXPECT_EQ(FormatPosition(54), "54.00");
  EXPECT_EQ(FormatPosition(0), "0.00");
  EXPECT_EQ(FormatPosition(-0.0), "0.00");
  EXPECT_EQ(FormatPosition(0.125), "0.13");      // half away from zero
  EXPECT_EQ(FormatPosition(-0.001), "0.00");     // no "-0.00"
  EXPECT_EQ(FormatPosition(99999.4), "99999.00");
  EXPECT_EQ(FormatPosition(9.999), "10.00");
  // More digits before the point than significant ones: exponent form,
  // which reads back.
  const std::string big = FormatPosition(123456.7);
  EXPECT_NE(big.find('E'), std::string::npos) << big;
  EXPECT_DOUBLE_EQ(StrToFloat(big), 123460);
}

TEST(EditorNames, BlanksAndSemicolonsCannotSplitARecord) {
  EXPECT_EQ(CleanName("Beaker 1;a\tb"), "Beaker_1_a_b");
  EXPECT_EQ(CleanName("ABCDEFGHIJKLMNOPQRS"), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(CleanName(""), "");
  EXPECT_EQ(TaskLineOf("A + B\nC"), "A + B");
  EXPECT_EQ(TaskLineOf(std::string(300, 'x')).size(), 255u);
}

TEST_F(TEditors, PositionFieldsAreLimitedToTheTravel) {
  AddPosition();
  EXPECT_EQ(TakePosCoord(1, "99"), 54);  // TravelMax X
  EXPECT_EQ(PosTable[1].X, 54);
  EXPECT_EQ(TakePosCoord(1, "-3"), 0);
  EXPECT_EQ(TakePosCoord(1, "54"), 54);  // on the bound: unchanged
  EXPECT_EQ(TakePosCoord(2, " 12.5 "), 12.5);
  EXPECT_EQ(TakePosCoord(2, "30"), 20.5);  // TravelMax Y
  EXPECT_EQ(PosTable[1].Y, 20.5);
}

TEST_F(TEditors, TextThatIsNotANumberKeepsTheStoredValue) {
  AddPosition();
  PosTable[1].X = 7;
  for (const char *bad : {"abc", "", "1,5", "nan", "inf", "12x"})
    EXPECT_THROW(TakePosCoord(1, bad), EConvertError) << bad;
  EXPECT_EQ(PosTable[1].X, 7);
  AddProcess();
  ProcTable[1].NoTunks = 4;
  EXPECT_THROW(TakeNoTunks("2.5"), EConvertError);
  EXPECT_EQ(ProcTable[1].NoTunks, 4);
  EXPECT_THROW(TakeSetting(TSetting::HomeX, "x"), EConvertError);
  EXPECT_EQ(MachineSettings.HomeX, 0);
}

TEST_F(TEditors, ProcessNumbersUseTheZAxisLimits) {
  AddProcess();
  Axes[3].MinPosition = 1;
  Axes[3].MaxPosition = 25;
  Axes[3].MinSpeed = 0.1;
  Axes[3].MaxSpeed = 2;
  EXPECT_EQ(TakeProcNumber(TProcNumber::UpperPos, "0"), 1);
  EXPECT_EQ(TakeProcNumber(TProcNumber::LowPos, "30"), 25);
  EXPECT_EQ(TakeProcNumber(TProcNumber::InSpeed, "0.01"), 0.1);
  EXPECT_EQ(TakeProcNumber(TProcNumber::OutSpeed, "5"), 2);
  EXPECT_EQ(TakeProcNumber(TProcNumber::InTime, "-2"), -2);  // times have no range
  EXPECT_EQ(TakeProcNumber(TProcNumber::OutTime, "1e3"), 1000);
  EXPECT_EQ(TakeNoTunks("12"), 12);
  const TProcEntry &p = ProcTable[1];
  EXPECT_EQ(p.UpperPos, 1);
  EXPECT_EQ(p.LowPos, 25);
  EXPECT_EQ(p.InSpeed, 0.1);
  EXPECT_EQ(p.OutSpeed, 2);
  EXPECT_EQ(p.InTime, -2);
  EXPECT_EQ(p.OutTime, 1000);
  EXPECT_EQ(p.NoTunks, 12);
  EXPECT_FALSE(ChannelListsEnabled(0));
  EXPECT_TRUE(ChannelListsEnabled(0.5));
  EXPECT_TRUE(ChannelListsEnabled(-1));
}

TEST_F(TEditors, ZFieldsTraceTheLimitEvenWhenTheTextIsBad) {
  AddProcess();
  EXPECT_THROW(TakeProcNumber(TProcNumber::LowPos, "deep"), EConvertError);
  TakeProcNumber(TProcNumber::UpperPos, "3");
  EXPECT_EQ(Host.Report.Lines,
            (std::vector<std::string>{"$ MaxPositionG[3]:25.00", "$ MaxPositionG[3]:25.00"}));
}

TEST_F(TEditors, SettingsAndTheStandardSpeedRange) {
  HighestSpeed = 2;
  LowestSpeed = 0;
  EXPECT_EQ(TakeSetting(TSetting::StandardV, "7"), 2);
  EXPECT_EQ(TakeSetting(TSetting::StandardV, "-1"), 0);
  EXPECT_EQ(TakeSetting(TSetting::HomeZ, "-40"), -40);  // no range
  EXPECT_EQ(TakeSetting(TSetting::StandardZ, "6.5"), 6.5);
  EXPECT_EQ(MachineSettings.StandardV, 0);
  EXPECT_EQ(MachineSettings.HomeZ, -40);
  EXPECT_EQ(MachineSettings.StandardZ, 6.5);
}

TEST_F(TEditors, GetButtonsTakeTheLiveValuesWithoutLimits) {
  AddPosition();
  AddProcess();
  Axes[1].Position = 60;  // beyond TravelMax: taken as it is
  Axes[2].Position = 7;
  Axes[3].Position = 3.5;
  ShownSpeed = 9;
  CurrentSpeed = 1.5;
  GetPosXY();
  GetProcZ(true);
  GetProcZ(false);
  GetProcSpeed(true);
  GetHomeXYZ();
  GetStandardZ();
  GetStandardV();
  EXPECT_EQ(PosTable[1].X, 60);
  EXPECT_EQ(PosTable[1].Y, 7);
  EXPECT_EQ(ProcTable[1].UpperPos, 3.5);
  EXPECT_EQ(ProcTable[1].LowPos, 3.5);
  EXPECT_EQ(ProcTable[1].InSpeed, 9);
  EXPECT_EQ(MachineSettings.HomeY, 7);
  EXPECT_EQ(MachineSettings.StandardZ, 3.5);
  EXPECT_EQ(MachineSettings.StandardV, 1.5);

  // Without a Y axis, Y stays.
  NMotors = 2;
  Axes[2].Position = 1;
  GetPosXY();
  GetHomeXYZ();
  EXPECT_EQ(PosTable[1].Y, 7);
  EXPECT_EQ(MachineSettings.HomeY, 7);
}

TEST_F(TEditors, TaskLineBuilder) {
  for (int i = 0; i < 3; ++i) AddProcess();
  ProcTable[2].Name = "P2";
  ProcTable[3].Name = "P3";
  AddTask();
  // On an empty line only "(" is added.
  AddToTaskLine(TBuilderItem::Plus);
  AddToTaskLine(TBuilderItem::Ket);
  AddToTaskLine(TBuilderItem::Star);
  EXPECT_EQ(TaskTable[1].Line, "");
  AddToTaskLine(TBuilderItem::Bra);
  EXPECT_EQ(TaskTable[1].Line, "(");
  TaskTable[1].Line.clear();
  AddToTaskLine(TBuilderItem::Process, 2);
  AddToTaskLine(TBuilderItem::Plus);
  AddToTaskLine(TBuilderItem::Process, 3);
  EXPECT_EQ(TaskTable[1].Line, "P2 + P3");
  AddToTaskLine(TBuilderItem::Star);
  AddToTaskLine(TBuilderItem::Ket);
  AddToTaskLine(TBuilderItem::Process, 9);  // no such process: nothing
  EXPECT_EQ(TaskTable[1].Line, "P2 + P3*)");
  TaskTable[1].Line = std::string(254, 'x');
  AddToTaskLine(TBuilderItem::Plus);
  EXPECT_EQ(TaskTable[1].Line.size(), 255u);
}

class TGotoXY : public TEditors {
protected:
  TSimLinePort Line;
  void SetUp() override {
    TEditors::SetUp();
    StopRequest = false;
    SetOpState(Idle);
    for (int a = 1; a <= 3; ++a) {
      Line.Ctl(a).MotorOn = true;
      Line.Ctl(a).Position = 10;  // mm
      Axes[a].Position = 1;       // cm
      Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
    }
    MachineSettings.StandardZ = 4;
  }
  std::vector<int> MoveOrder() const {
    std::vector<int> order;
    for (const std::string &s : Line.Sent)
      if (s.find(" V=") != std::string::npos) order.push_back(s[1] - '0');
    return order;
  }
};

TEST_F(TGotoXY, ZFirstThenYThenXToTheFieldTexts) {
  GotoXY("12.5", "99");  // Y beyond its travel goes only as far as the travel
  EXPECT_EQ(MoveOrder(), (std::vector<int>{3, 2, 1}));
  EXPECT_NEAR(Axes[3].Position, 4, 0.01);
  EXPECT_NEAR(Axes[2].Position, 20.5, 0.01);
  EXPECT_NEAR(Axes[1].Position, 12.5, 0.01);
  EXPECT_EQ(OpState(), Idle);
}

TEST_F(TGotoXY, ABadFieldMovesNothing) {
  EXPECT_THROW(GotoXY("12", "y?"), EConvertError);
  EXPECT_TRUE(MoveOrder().empty());
}

}  // namespace
