// The line check on the paced line (the port's cut rule on the fake clock):
// a verdict per controller for each way the simulator breaks what closing
// replies at their line end assumes, the automatic setting earned only by a
// clean line, and a fault that comes later putting the line back on the cut
// rule once, with no wrong value reaching a caller.
#include <gtest/gtest.h>

#include "base/Machine.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "veri/LineCheck.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

struct TFault {
  const char *Control;
  int Address;
  const char *Broken;
};

const TFault Faults[] = {{"twolines 1", 1, "a reply sent as two lines"},
                         {"lineafter 2", 2, "a line after the reply"},
                         {"foreign 3", 3, "answers frames not addressed to it"},
                         {"noeol 1", 1, "an echo-only reply without its line end"}};

struct LineCheck : ::testing::TestWithParam<TFault> {
  THostFixture Host{2};
  TSimLinePort Line;
  void SetUp() override {
    NMotors = 3;
    Line.Paced(TFastReplies::Automatic);
  }
  size_t Logged(const std::string &prefix) const {
    size_t n = 0;
    for (auto &l : Host.Report.Lines) n += l.rfind(prefix, 0) == 0;
    return n;
  }
};

TEST_F(LineCheck, CleanLinePassesEveryControllerAndEarnsTheLineEnd) {
  std::vector<TLineVerdict> v;
  const std::string shown = VERICheckLine(VERILineAxes(), true, &v);
  ASSERT_EQ(v.size(), 3u);
  for (auto &c : v) EXPECT_TRUE(c.Passed) << c.Broken << c.Seen;
  EXPECT_EQ(shown,
            "Line check, controller 1: passed\nLine check, controller 2: passed\nLine check, controller 3: "
            "passed\nReplies end at the line end: automatic, at the line end");
  EXPECT_TRUE(Line.ReplyRule().AtLineEnd);
  EXPECT_TRUE(Line.ReplyRule().EchoOnlyToo);
  EXPECT_EQ(Line.Commands(2), (std::vector<std::string>{"VER", "P12?", "", "P12=0"}));
  // On and Off keep their rule whatever the check finds.
  Line.Paced(TFastReplies::On);
  VERICheckLine({1}, false);
  EXPECT_TRUE(Line.ReplyRule().AtLineEnd);
  EXPECT_FALSE(Line.ReplyRule().EchoOnlyToo);
}

TEST_P(LineCheck, EachBrokenAssumptionFailsThatControllerAndKeepsTheCut) {
  ASSERT_EQ(Line.Control(GetParam().Control), "ok");
  std::vector<TLineVerdict> v;
  VERICheckLine(VERILineAxes(), false, &v);
  ASSERT_EQ(v.size(), 3u);
  for (auto &c : v) {
    EXPECT_EQ(c.Passed, c.Address != GetParam().Address) << int(c.Address);
    if (c.Address == GetParam().Address) {
      EXPECT_EQ(c.Broken, GetParam().Broken) << c.Seen;
    }
  }
  EXPECT_FALSE(Line.ReplyRule().AtLineEnd);
  EXPECT_TRUE(Host.Report.Has("Replies end at the line end: automatic, by the cut rule"));
  EXPECT_EQ(Logged("Line check, controller " + std::to_string(GetParam().Address) + ": " + GetParam().Broken +
                   ": \"#"),
            1u)
      << Host.Report.Joined();
}

TEST_P(LineCheck, FaultMidRunFallsBackOnceWithoutAWrongValue) {
  VERICheckLine(VERILineAxes(), true);
  ASSERT_TRUE(Line.ReplyRule().AtLineEnd);
  ASSERT_EQ(Line.Control(GetParam().Control), "ok");
  for (int round = 0; round < 3; ++round) {
    for (uint8_t a = 1; a <= 3; ++a) {
      Line.Ctl(a).Position = 10 * a + round;
      double value = -1;
      std::string error;
      VERIGetParam(a, 51, value, error);
      EXPECT_EQ(error, "") << int(a) << Host.Report.Joined();
      EXPECT_EQ(value, 10 * a + round) << int(a);
      EXPECT_EQ(VERIPutParamI(a, 1204, round % 2), "");
      EXPECT_EQ(VERIDialog(a, "VER"), "VERISIM_1.0 ");
    }
  }
  EXPECT_FALSE(Line.ReplyRule().AtLineEnd);
  EXPECT_EQ(Logged("Replies end by the cut rule until the next Connect: "), 1u) << Host.Report.Joined();
  EXPECT_EQ(Host.Report.Joined().find("TimeOut"), std::string::npos) << Host.Report.Joined();
}

INSTANTIATE_TEST_SUITE_P(Faults, LineCheck, ::testing::ValuesIn(Faults), [](const auto &i) {
  std::string n = i.param.Control;
  n.erase(n.find(' '), 1);
  return n;
});

}  // namespace
