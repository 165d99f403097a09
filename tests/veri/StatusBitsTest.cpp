// Every bit of the warning (P12) and error (P11) registers, alone: its
// report line, box, motor action and whether the register is cleared, or
// nothing at all for the bits without a meaning. A bit lost from the
// program's tables fails here.
#include <gtest/gtest.h>

#include "base/Machine.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "veri/Connection.h"

namespace {
using V = std::vector<std::string>;

const std::map<int, std::string> Warnings = {
    {1, "WARNING VERI [  1]: Software limit switch reached"},
    {2, "WARNING VERI [  2]: Temperature of electronics is almost at its limit!"},
    {4, "WARNING VERI [  4]: Voltage of electronics is at lower limit!"},
    {8, "WARNING VERI [  8]: Problem with conversion of position data!"},
    {16, "WARNING VERI [ 16]: Parameter out of range!"},
    {32, "WARNING VERI [ 32]: Step error (should never occur here!!)!"},
    {64, "WARNING VERI [ 64]: Limit position out of range (should never occur here!!)"},
    {128, "WARNING VERI [128]: Program error (should never occur here!!)!"}};

const std::string Again = "If this error occurs again, contact service.";
const std::string Restart = "Switch off electronics and start again.\r\n" + Again;
struct TError {
  std::string Line, Box;  // Box: what the box adds to the line, or all of it where it differs
};
const std::map<int, TError> Errors = {
    {2,
     {"*** ERROR VERI [  2]: Temperature of electronics exceeds limit!",
      "\r\nStop operation, wait for cooling, and find out the reason before restart."}},
    {32, {"*** ERROR VERI [ 32]: Step control error (should never occur here!!)!", "\r\n" + Restart}},
    {128,
     {"*** ERROR VERI [128]: Shortage in power amplifier or motor!",
      "*** ERROR VERI [ 128]: Shortage in power amplifier or motor!\r\nSwitch off electronics and check "
      "cable connections before zou restart.\r\n" +
          Again}},
    {512, {"*** ERROR VERI [512]: Low voltage of power supply!", "\r\n" + Restart}},
    {2048, {"*** ERROR VERI [2048]: Step error (should never occur here!!)!", "\r\n" + Restart}},
    {8192,
     {"*** ERROR VERI [8192]: Hardware limit switch open!",
      "\r\nBefore pressing [OK] move Z-axis manually towards the center of the machine.\r\n" + Again}}};

struct StatusBits : ::testing::Test {
  THostFixture Host{1};
  TSimLinePort Line;
  void SetUp() override {
    NMotors = 3;
    Axes[3].AxisName = "Z";
  }
  V Writes() const {  // what the examination wrote, reads left out
    V w;
    for (auto &s : Line.Sent)
      if (s.find('?') == std::string::npos) w.push_back(s);
    return w;
  }
};

TEST_F(StatusBits, EveryWarningBitAloneGivesItsLineAndIsCleared) {
  for (int bit = 0; bit < 16; ++bit) {
    const int value = 1 << bit;
    SCOPED_TRACE("P12 = " + std::to_string(value));
    Host.Report.Lines.clear();
    Line.Sent.clear();
    Line.Ctl(3).Warnings = value;
    VERIExamineWarning(3);
    const auto it = Warnings.find(value);
    EXPECT_EQ(Host.Report.Lines, it == Warnings.end() ? V{} : V{it->second});
    EXPECT_EQ(Writes(), V{"#3 P12=0\r"});  // cleared whatever the bit
    EXPECT_EQ(Line.Ctl(3).Warnings, 0);
    EXPECT_TRUE(Host.Operator.Asked.empty());
  }
}

TEST_F(StatusBits, EveryErrorBitAloneGivesItsLineBoxAndMotorAction) {
  for (int bit = 0; bit < 16; ++bit) {
    const int value = 1 << bit;
    SCOPED_TRACE("P11 = " + std::to_string(value));
    Host.Report.Lines.clear();
    Host.Operator.Asked.clear();
    Line.Sent.clear();
    Line.Ctl(3).Errors = value;
    VERIExamineError(3);
    const auto it = Errors.find(value);
    if (it == Errors.end()) {
      EXPECT_TRUE(Host.Report.Lines.empty());
      EXPECT_TRUE(Host.Operator.Asked.empty());
      EXPECT_TRUE(Writes().empty());
      EXPECT_EQ(Line.Ctl(3).Errors, value);
      continue;
    }
    EXPECT_EQ(Host.Report.Lines, V{it->second.Line});
    ASSERT_EQ(Host.Operator.Asked.size(), 1u);
    const std::string &box = it->second.Box;
    EXPECT_EQ(Host.Operator.Asked[0].Text, box.rfind("\r\n", 0) == 0 ? it->second.Line + box : box);
    EXPECT_EQ(Host.Operator.Asked[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Host.Operator.Asked[0].Buttons, unsigned(mbOK));
    if (value == 8192) {  // this axis off and on again, the register cleared
      EXPECT_EQ(Writes(), (V{"#3 P134=0\r", "#3 P134=7\r", "#3 P11=0\r"}));
      EXPECT_EQ(Line.Ctl(3).Errors, 0);
    } else {  // every motor off, the register left as it is
      EXPECT_EQ(Writes(), (V{"#1 P134=0\r", "#2 P134=0\r", "#3 P134=0\r"}));
      EXPECT_EQ(Line.Ctl(3).Errors, value);
    }
  }
}

// Bits together: each gives its line, in bit order.
TEST_F(StatusBits, SeveralBitsAtOnceEachGiveTheirLine) {
  Line.Ctl(3).Warnings = 5 | 256;
  VERIExamineWarning(3);
  Line.Ctl(3).Errors = 2 | 8192;
  VERIExamineError(3);
  EXPECT_EQ(Host.Report.Lines, (V{Warnings.at(1), Warnings.at(4), Errors.at(2).Line, Errors.at(8192).Line}));
  EXPECT_EQ(Host.Operator.Asked.size(), 2u);
  EXPECT_EQ(Line.Ctl(3).Errors, 0);
}

}  // namespace
