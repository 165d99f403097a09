// The line check on the paced line (the port's cut rule on the fake clock):
// Connect judges the line on its own exchanges and writes nothing; each way
// the simulator breaks what closing replies at their line end assumes fails
// the controller at fault in its own terms and keeps the cut; a fault that
// comes later puts the line back on the cut rule once, with no wrong value.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/Machine.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "veri/Connection.h"
#include "veri/LineCheck.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {
using V = std::vector<std::string>;

struct TFault {
  const char *Control;
  int Address;
  const char *Broken;
  bool Later;  // applied after Connect, seen at a write and a read
};

const TFault Faults[] = {{"twolines 1", 1, "the answer on a line of its own after the echo", false},
                         {"lineafter 2", 2, "a line after the reply", false},
                         {"foreign 3", 3, "controller 3 answered a frame to controller 1", false},
                         {"lfonly 1", 1, "the reply ends with LF alone, not CR LF", false},
                         {"cronly 2", 2, "the reply ends with CR alone, not CR LF", false},
                         {"noeol 1", 1, "the echo of a write without its line end", true},
                         {"lineafter 3", 3, "a line after the reply", true}};

struct LineCheck : ::testing::TestWithParam<TFault> {
  THostFixture Host{2};
  TSimLinePort Line{{1, 2, 3, 5}};
  void SetUp() override {
    NMotors = 3;
    Line.Paced(TFastReplies::Automatic);
  }
  // Connect, No to every question; the frames it sent.
  V Connect() {
    const size_t before = Line.Sent.size();
    Host.Operator.Answers = {mbIgnore, mbNo, mbNo};
    VERICheckConnection();
    return V(Line.Sent.begin() + long(before), Line.Sent.end());
  }
  size_t Logged(const std::string &prefix) const {
    return size_t(std::count_if(Host.Report.Lines.begin(), Host.Report.Lines.end(),
                                [&](const std::string &l) { return l.rfind(prefix, 0) == 0; }));
  }
};

TEST_F(LineCheck, ConnectEarnsTheLineEndOnItsOwnReadsAndWritesNothing) {
  const V frames = Connect();
  for (const std::string &f : frames) EXPECT_EQ(f.find('='), std::string::npos) << f;  // reads only
  EXPECT_EQ(Line.Commands(2), (V{"VER", "P403?", "P134?", "P1013?"}));
  EXPECT_EQ(Line.ReplyRule().Answers.to_string().substr(250) + Line.ReplyRule().EchoOnly.to_string().substr(250),
            "001110000000");
  // A write the program makes anyway earns its address's echo-only replies;
  // so does the first exchange with an address Connect does not know.
  EXPECT_EQ(VERIPutParamI(3, 1204, 1), "");
  EXPECT_EQ(VERIPutParamI(5, 1201, 1), "");
  EXPECT_TRUE(Line.ReplyRule().EchoOnly[3] && Line.ReplyRule().EchoOnly[5]);
  // Check line: every address the machine uses, reads only.
  Axes[3].HWAddress = 3;
  DigOutTable[2].Address = 5;
  EXPECT_EQ(VERILineAddresses(), (std::vector<uint8_t>{1, 2, 3, 5}));
  EXPECT_EQ(VERICheckLine(VERILineAddresses()), "Line check, controller 1: passed\nLine check, controller 2: passed\n"
            "Line check, controller 3: passed\nLine check, controller 5: passed\nReplies end at the line end: automatic, at the line end");
  EXPECT_EQ(Line.Commands(5), (V{"P1201=1", "VER", ""}));
  DigOutTable[2].Address = 0;
  // A Connect that finds no controller leaves nothing earned before.
  for (int a : {1, 2, 3}) Line.Control("mute " + std::to_string(a));
  Connect();
  EXPECT_EQ(Host.Report.Lines.back(), "Replies end at the line end: automatic, by the cut rule");
}

TEST_P(LineCheck, EachBrokenAssumptionFailsThatControllerAndKeepsTheCut) {
  const TFault &f = GetParam();
  if (f.Later) GTEST_SKIP() << "a write's fault: seen mid-run";
  ASSERT_EQ(Line.Control(f.Control), "ok");
  Connect();
  EXPECT_EQ(Logged("Line check, controller " + std::to_string(f.Address) + ": " + f.Broken + ": \"#"), 1u)
      << Host.Report.Joined();
  EXPECT_FALSE(Line.ReplyRule().AtLineEnd() || Line.ReplyRule().Earning);  // "by the cut rule"
}

TEST_P(LineCheck, FaultMidRunFallsBackOnceWithoutAWrongValue) {
  Connect();
  for (uint8_t a = 1; a <= 3; ++a) VERIPutParamI(a, 134, 7);
  ASSERT_TRUE(Line.ReplyRule().EchoOnly[3]);
  ASSERT_EQ(Line.Control(GetParam().Control), "ok");
  for (int round = 0; round < 3; ++round) {
    for (uint8_t a = 1; a <= 3; ++a) {
      Line.Ctl(a).Position = 10 * a + round;
      Line.Ctl(a).Warnings = 16 + round;
      double value = -1, warnings = -1;
      std::string error;
      VERIGetParam(a, 51, value, error);
      EXPECT_EQ(error, "") << int(a) << Host.Report.Joined();
      EXPECT_EQ(value, 10 * a + round) << int(a);
      VERIGetParam(a, 12, warnings, error);
      EXPECT_EQ(warnings, 16 + round) << int(a);  // no digit lost with the line end
      EXPECT_EQ(VERIPutParamI(a, 1204, round % 2), "");
      EXPECT_EQ(VERIDialog(a, "VER"), "VERISIM_1.0 ");
      // A poll never takes another line of its controller (foreign: X's reads bring Z's).
      EXPECT_EQ(VERIDialog(a, "").substr(0, 2), "OK") << Host.Report.Joined();
    }
  }
  EXPECT_FALSE(Line.ReplyRule().AtLineEnd());
  EXPECT_EQ(Logged("Replies end by the cut rule until the next Connect: "), 1u) << Host.Report.Joined();
  EXPECT_EQ(Logged("Replies end by the cut rule until the next Connect: " + std::string(GetParam().Broken) + " (\"#"), 1u);
  EXPECT_EQ(Host.Report.Joined().find("TimeOut"), std::string::npos) << Host.Report.Joined();
}

INSTANTIATE_TEST_SUITE_P(Faults, LineCheck, ::testing::ValuesIn(Faults), [](const auto &i) {
  std::string n = i.param.Control;
  n.erase(n.find(' '), 1);
  return n + (i.param.Later ? "Later" : "");
});

}  // namespace
