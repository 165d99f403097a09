// The controller protocol against simulated controllers on an in-process
// line: the frames they receive, the report log, the operator's boxes.
#include <gtest/gtest.h>

#include "base/Machine.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "support/TempDir.h"
#include "veri/Connection.h"
#include "veri/Outputs.h"
#include "veri/Params.h"
#include "veri/Transport.h"
#include "veri/Utilities.h"

namespace {
using V = std::vector<std::string>;

struct Veri : TTempDirTest {
  THostFixture Host{1};
  TSimLinePort Line;
  void Ready(int a) {
    Line.Ctl(a).RefState = 1;
    Line.Ctl(a).MotorOn = true;
  }
};

struct TNoBar : IUploadView {
  void ShowBar(bool) override {}
  void SetBar(int, int) override {}
  void StepBar() override {}
};
}  // namespace

TEST_F(Veri, ExchangesAreLoggedAndFailWithAStar) {
  ReportLevel = 2;
  EXPECT_EQ(VERIDialog(1, "P1013?"), "P1013=4 ");
  EXPECT_EQ(Line.Sent, V{"#1 P1013?\r"});
  EXPECT_TRUE(Host.Report.Has("$ VERI Rcvd: (100) : #1 P1013? P1013=4\r\n"));
  // A reply later than the time-out: LineFaultsE2E.
  // Another controller's echo is no answer; a value ends at its word.
  Line.Control("wrongaddr 2 1 1");
  EXPECT_EQ(VERIDialog(2, "VER")[0], '*');
  int32_t i = 0;
  EXPECT_TRUE(VERIParamValueI("P12=4 #3 P51? P51=15 ", i));
  EXPECT_EQ(i, 4);
}

TEST_F(Veri, AllAxesOrdersSkipYOnTwoMotorsAndReferenceZFirst) {
  NMotors = 2;
  VERIMotorOnOff(255, true);
  EXPECT_EQ(Line.Sent, (V{"#1 P134=7\r", "#3 P134=7\r"}));
  NMotors = 3;
  for (int a = 1; a <= 3; ++a) Line.Ctl(a).Position = 30;
  VERIGotoReference(255);
  V heads;
  for (auto &l : Host.Report.Lines)
    if (l.compare(0, 6, "Axis [") == 0) heads.push_back(l);
  EXPECT_EQ(heads, (V{"Axis [3] to ref. position ...", "Axis [2] to ref. position ...",
                      "Axis [1] to ref. position ..."}));
  for (int a = 1; a <= 3; ++a) EXPECT_TRUE(Axes[a].Referenced) << a;
}

TEST_F(Veri, CheckReadsPositionsAndRetryRunsItAgain) {
  NMotors = 2;
  Ready(1);
  Ready(3);
  Line.Ctl(3).Position = 123;
  Line.Control("mute 3");
  // Retry: the nested run finds Z (plugged in meanwhile) and asks nothing.
  Host.Operator.Answers = {mbRetry};
  Host.Events.OnPump = [&] {
    if (Host.Operator.Asked.size() == 1) Line.Control("unmute 3");
  };
  VERICheckConnection();
  ASSERT_EQ(Host.Operator.Asked.size(), 1u);
  EXPECT_EQ(Host.Operator.Asked[0].Text.substr(0, 32), "No connection to VERI hardware. ");
  EXPECT_TRUE(Axes[3].Connected);
  EXPECT_DOUBLE_EQ(Axes[3].Position, 12.3);
}

TEST_F(Veri, OutputsWriteTheirPinOnlyWhenWired) {
  DigOutTable[1].Address = 2;
  DigOutTable[1].Pin = 4;
  DigOutTable[2].Address = 0;
  VERIOut(1, 1);
  VERIToggleOut(1);
  VERIOut(2, 1);
  VERIToggleOut(2);
  EXPECT_EQ(Line.Sent, (V{"#2 P1204=1\r", "#2 P1204=0\r"}));
}

TEST_F(Veri, UploadListsTheProgramBackIntoTheDownloadFile) {
  Put("KV1pgm.ini", "L1 A=1\r\nL2 A=2\r\nL3 A=3\r\n");
  TNoBar bar;
  ASSERT_TRUE(UploadProgram(1, bar));
  EXPECT_EQ(Line.Commands(1), (V{"NEW", "L1 A=1", "L2 A=2", "L3 A=3", "QUIT", "LIST+", "LIST+", "LIST+"}));
  EXPECT_EQ(Get("KV1pgmdwn.txt"), "L1 A=1 \r\nL2 A=2 \r\nL3 A=3 \r\n");
}
