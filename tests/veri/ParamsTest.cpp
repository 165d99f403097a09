#include <gtest/gtest.h>

#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {
struct ParamsTest : ::testing::Test {
  THostFixture Host;
  TSimLinePort Line;
  ParamsTest() {
    ResetMachineDefaults();
    StopRequest = false;
  }
  ~ParamsTest() override { ResetMachineDefaults(); }
};
}  // namespace

TEST(VERIParamValue, TakesTheNumberAfterTheFirstEquals) {
  double v = -1;
  EXPECT_TRUE(VERIParamValue("P51=12.5 ", v));
  EXPECT_DOUBLE_EQ(v, 12.5);
  EXPECT_TRUE(VERIParamValue("P51= -3.25x ", v));
  EXPECT_DOUBLE_EQ(v, -3.25);
  // The first character is never the "=" looked for.
  EXPECT_FALSE(VERIParamValue("=5 ", v));
  EXPECT_FALSE(VERIParamValue("P51 ", v));
  EXPECT_FALSE(VERIParamValue("P51= ", v));
  EXPECT_FALSE(VERIParamValue("", v));
  // A decimal comma is no number with "." in force.
  EXPECT_FALSE(VERIParamValue("P51=12,5 ", v));

  int32_t i = 0;
  EXPECT_TRUE(VERIParamValueI("P12=5 ", i));
  EXPECT_EQ(i, 5);
  EXPECT_TRUE(VERIParamValueI("P12=-17 ", i));
  EXPECT_EQ(i, -17);
  EXPECT_TRUE(VERIParamValueI("P12=1+2 ", i));  // only digits count
  EXPECT_EQ(i, 12);
  EXPECT_FALSE(VERIParamValueI("P12=abc ", i));
  EXPECT_FALSE(VERIParamValueI("P12=99999999999 ", i));
}

// A late reply arriving within the cluster of the next one: its words follow
// the answer, and its digits are not part of the value.
TEST(VERIParamValue, EndsAtTheFirstBlankAfterTheValue) {
  int32_t i = 0;
  EXPECT_TRUE(VERIParamValueI("P12=4 #3 P51? P51=15 ", i));
  EXPECT_EQ(i, 4);
  double v = 0;
  EXPECT_TRUE(VERIParamValue("P51=15 #3 P12? P12=0 ", v));
  EXPECT_DOUBLE_EQ(v, 15);
  EXPECT_TRUE(VERIParamValue("P51= 12.5 #3 OK1 ", v));
  EXPECT_DOUBLE_EQ(v, 12.5);
}

TEST_F(ParamsTest, ReadsAndWritesParameters) {
  double v = 0;
  int32_t i = 0;
  std::string error = "x";
  Line.Ctl(1).Position = 125;
  VERIGetParam(1, 51, v, error);
  EXPECT_EQ(error, "");
  EXPECT_DOUBLE_EQ(v, 125);
  EXPECT_EQ(VERIPutParamI(2, 12, -5), "");
  VERIGetParamI(2, 12, i, error);
  EXPECT_EQ(i, -5);
  EXPECT_EQ(Line.Commands(2), (std::vector<std::string>{"P12=-5", "P12?"}));

  // No answer: value 0 and the failure text.
  Line.Control("mute 3");
  v = 7;
  VERIGetParam(3, 51, v, error);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(error.substr(0, 25), "*** SerialTalk: TimeOut\r\n");
  EXPECT_EQ(VERIPutParamI(3, 12, 0)[0], '*');

  // A garbled echo ("#0 ...") is a failure.
  Line.Control("garble 1 1");
  VERIGetParamI(1, 11, i, error);
  EXPECT_EQ(error[0], '*');
}

TEST_F(ParamsTest, AnswerWithoutValueGivesError) {
  // A controller that answers the read with a word but no value.
  double v = 3;
  std::string error;
  VERIGetParam(1, 134, v, error);  // "ON": no "=" at all
  EXPECT_EQ(v, 0);
  EXPECT_EQ(error, "*** VERIGetParam: no value for P134 in the answer \"OFF \"");
}

TEST_F(ParamsTest, MotorOnOffOrdersAndFlags) {
  NMotors = 2;
  Axes[1].Changed = Axes[3].Changed = false;
  VERIMotorOnOff(255, true);
  EXPECT_EQ(Line.Commands(1), std::vector<std::string>{"P134=7"});
  EXPECT_TRUE(Line.Commands(2).empty());
  EXPECT_EQ(Line.Commands(3), std::vector<std::string>{"P134=7"});
  ASSERT_EQ(Line.Sent.size(), 2u);
  EXPECT_EQ(Line.Sent[0], "#1 P134=7\r");
  EXPECT_TRUE(Axes[1].MotorOn && Axes[3].MotorOn && Axes[1].Changed && Axes[3].Changed);
  EXPECT_TRUE(Line.Ctl(3).MotorOn);
  // The flag follows the request even when nobody answers.
  Line.Control("mute 1");
  VERIMotorOnOff(1, false);
  EXPECT_FALSE(Axes[1].MotorOn);
  VERIMotorOnOff(0, true);
  VERIMotorOnOff(4, true);
  EXPECT_EQ(Line.Sent.size(), 3u);
}

TEST_F(ParamsTest, GetPositionKeepsOldValueOnFailure) {
  Line.Ctl(1).Position = 12.5;
  VERIGetPosition(1);
  EXPECT_DOUBLE_EQ(Axes[1].Position, 1.25);
  Axes[1].Changed = false;
  Line.Control("mute 1");
  VERIGetPosition(1);
  EXPECT_DOUBLE_EQ(Axes[1].Position, 1.25);
  EXPECT_FALSE(Axes[1].Changed);
}

TEST_F(ParamsTest, ReferenceAllAxesZFirstAndPumpsEvents) {
  std::vector<TOpState> seen;
  Host.Events.OnPump = [&] { seen.push_back(OpState()); };
  for (int a = 1; a <= 3; ++a) Line.Ctl(a).Position = 30;
  VERIGotoReference(255);
  EXPECT_EQ(OpState(), Idle);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), Referencing);
  for (int a = 1; a <= 3; ++a) {
    EXPECT_TRUE(Axes[a].Referenced) << a;
    EXPECT_FALSE(Axes[a].Moving);
    EXPECT_DOUBLE_EQ(Axes[a].Position, 0);
    EXPECT_EQ(Line.Ctl(a).RefState, 1);
  }
  // Z first, each to completion before the next starts.
  std::vector<std::string> heads;
  for (auto &l : Host.Report.Lines)
    if (l.compare(0, 6, "Axis [") == 0 || l == "   ... done.") heads.push_back(l);
  EXPECT_EQ(heads, (std::vector<std::string>{"Axis [3] to ref. position ...", "   ... done.",
                                             "Axis [2] to ref. position ...", "   ... done.",
                                             "Axis [1] to ref. position ...", "   ... done."}));
}

TEST_F(ParamsTest, ReferenceRunEndsWhenControllerIsLost) {
  Line.Ctl(3).Position = 100;
  int pumps = 0;
  Host.Events.OnPump = [&] {
    if (++pumps == 3) Line.Control("mute 3");
  };
  ReportLevel = 1;
  VERIGotoReference(3);
  EXPECT_FALSE(Axes[3].Referenced);
  EXPECT_FALSE(Axes[3].Moving);
  EXPECT_FALSE(Host.Report.Has("   ... done."));
  EXPECT_TRUE(Host.Report.HasPrefix("*** Axis [3] reference run"));
}

TEST_F(ParamsTest, StopEndsTheWholeReferenceRun) {
  NMotors = 3;
  for (int a = 1; a <= 3; ++a) Line.Ctl(a).Position = 200;
  int pumps = 0;
  Host.Events.OnPump = [&] {
    if (++pumps == 2) ManualStopPress();
  };
  VERIGotoReference(255);
  EXPECT_FALSE(Axes[3].Referenced);
  EXPECT_FALSE(Line.Ctl(3).Moving());
  EXPECT_EQ(Line.Commands(3).back(), "S");
  // Y and X are not started after STOP.
  EXPECT_TRUE(Line.Commands(2).empty());
  EXPECT_TRUE(Line.Commands(1).empty());
  EXPECT_TRUE(Host.Report.HasPrefix("*** Axis [3] reference run stopped"));
  EXPECT_EQ(OpState(), Idle);
}

TEST_F(ParamsTest, ReferenceRunKeepsPollingWhileStateIsThreeOrMore) {
  Line.Ctl(1).Position = 60;  // 3 s at 1200 mm/min
  VERIGotoReference(1);
  std::vector<std::string> c = Line.Commands(1);
  size_t reads = 0;
  for (auto &s : c) reads += s == "P403?";
  EXPECT_GT(reads, 25u);
  EXPECT_TRUE(Axes[1].Referenced);
}
