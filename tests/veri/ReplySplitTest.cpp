// Replies split at their line ends, on the paced line with the port's cut
// rule run on the fake clock: the echoes of writes sent without waiting
// share a cluster with the awaited reply, and must not cost a time-out.
#include <gtest/gtest.h>

#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

struct TMode {
  const char *Name;
  TFastReplies Setting;
};

class ReplySplit : public ::testing::TestWithParam<TMode> {
protected:
  THostFixture Host{2};
  TSimLinePort Line;
  void SetUp() override {
    Line.Paced(GetParam().Setting);
    if (GetParam().Setting == TFastReplies::Automatic) {  // every address earned, both kinds
      TReplyRule earned = TReplyRule::All();
      earned.EchoOnly.set();
      Line.SetReplyRule(earned);
    }
    for (int a = 1; a <= 3; ++a) Line.Ctl(a).MotorOn = true;
  }
  size_t Stale(const std::string &head) const {
    size_t n = 0;
    for (auto &l : Host.Report.Lines) n += l.rfind("$ VERI Serial Talk buffer: " + head, 0) == 0;
    return n;
  }
  void NoTimeOut() const {
    EXPECT_EQ(Host.Report.Joined().find("TimeOut"), std::string::npos) << Host.Report.Joined();
  }
};

// The echoes with their line end, then without (each glued to the next reply, RUN's included).
TEST_P(ReplySplit, FastDipStartAnswersRunAtOnce) {
  for (const char *fault : {"clear 3", "noeol 3"}) {
    Line.Control(fault);
    Host.Report.Lines.clear();
    for (const char *r :
         {"R0 = 15.0000", "R1 = 20.0000", "R2 = 1200.0000", "R3 = 1200.0000", "C1 = 2", "M1 = 1"})
      VERICall(3, r);
    EXPECT_EQ(VERIDialog(3, "RUN"), "") << fault;
    NoTimeOut();
    EXPECT_EQ(Stale("#3 R"), 4u) << Host.Report.Joined();
    EXPECT_EQ(Stale("#3 C1 = 2"), 1u);
    EXPECT_EQ(Stale("#3 M1 = 1"), 1u);
    EXPECT_TRUE(Line.Ctl(3).ProgramRunning());
    EXPECT_EQ(Line.Ctl(3).DipsToDo, 2);
  }
}

TEST_P(ReplySplit, StoppedMoveThenReadGetsItsOwnValue) {
  EXPECT_EQ(VERIDialog(1, "V=1200 WA=100 E"), "");
  Host.Clock.Sleep(200);
  VERICall(1, "S");
  EXPECT_EQ(VERIDialog(1, "P1013?"), "P1013=4 ");
  EXPECT_EQ(VERIDialog(1, "")[0], 'O');
  NoTimeOut();
  EXPECT_EQ(Stale("#1 S\r\n"), 1u) << Host.Report.Joined();
  EXPECT_FALSE(Line.Ctl(1).Moving());
}

TEST_P(ReplySplit, BurstOfUnansweredWritesThenReads) {
  for (int i = 0; i < 12; ++i) VERICall(uint8_t(1 + i % 3), "P1204=" + std::to_string(i % 2));
  double v = 0;
  std::string error;
  VERIGetParam(2, 51, v, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(v, 10);
  EXPECT_EQ(VERIDialog(3, "VER"), "VERISIM_1.0 ");
  NoTimeOut();
  EXPECT_EQ(Stale("#"), 12u) << Host.Report.Joined();
}

INSTANTIATE_TEST_SUITE_P(Modes, ReplySplit,
                         ::testing::Values(TMode{"Off", TFastReplies::Off}, TMode{"On", TFastReplies::On},
                                           TMode{"AutomaticEarned", TFastReplies::Automatic}),
                         [](const auto &i) { return std::string(i.param.Name); });

}  // namespace
