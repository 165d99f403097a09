// The program's start against build/veri-sim over a real serial port, in
// real time. Task runs over the real port are the soak run's.
#include <gtest/gtest.h>

#include "app/FormMain.h"
#include "app/ReportWindow.h"
#include "base/Machine.h"
#include "support/Fakes.h"
#include "serial/SerialPortNG.h"
#include "support/SimLine.h"
#include "support/TempDir.h"
#include "veri/Connection.h"

namespace {

// The stock line settings (1.5 stop bits with 8 data bits) open without an
// error: a fresh folder whose settings name only the port.
using FreshFolderE2E = TTempDirTest;
TEST_F(FreshFolderE2E, OnlyThePortSetConnectsWithoutError) {
  THostFixture host;
  TSimProcess sim({"--axes", "1,2,3"});
  const TFastReplies mode = FastRepliesUnderTest();
  Put("KVSettings.ini", "[COMPortSettings]\r\nPort=" + sim.SlavePath + "\r\n" +
                            (mode == TFastReplies::Automatic ? "" : "FastReplies=" + std::to_string(int(mode)) + "\r\n"));
  TTFormMain form;
  ::Host().Operator = &host.Operator;
  host.Operator.Answers = {mbNo, mbNo};
  VERICheckConnection();
  const std::string log = form.ReportWindow->toPlainText().toStdString();
  EXPECT_EQ(log.find("***"), std::string::npos) << log;
  EXPECT_NE(log.find("line set to 1 stop bit"), std::string::npos) << log;
  EXPECT_TRUE(Axes[3].Connected);
  EXPECT_EQ(SerialPortNG1->FastReplies(), mode);  // absent: automatic
}

// Connect writes no register beyond what it always wrote: the same frames
// whether automatic replies judge the line on them or not.
TEST(ConnectE2E, SameFramesWithTheLineCheckAndWithout) {
  std::vector<std::string> seen[2];
  for (int with = 0; with < 2; ++with) {
    THostFixture host;
    TSimLine line(with ? TFastReplies::Automatic : TFastReplies::Off, false);
    ASSERT_TRUE(line.Open());
    host.Operator.Answers = {mbYes, mbNo};  // motors on, no reference run
    VERICheckConnection();
    seen[with] = line.Sim.Frames();
    EXPECT_TRUE(host.Report.Has(with ? "Replies end at the line end: automatic, at the line end"
                                     : "Replies end at the line end: off"))
        << host.Report.Joined();
    EXPECT_EQ(line.Port->ReplyRule().EchoOnly[3], with == 1);  // the motor writes earned it
  }
  std::string want;
  for (const char *a : {"#1 ", "#2 ", "#3 "})
    for (const char *c : {"VER", "P403?", "P134?", "P1013?"}) want += a + std::string(c) + "\n";
  want += "#1 P134=7\n#2 P134=7\n#3 P134=7\n";
  for (auto &frames : seen) {
    std::string got;
    for (auto &f : frames) got += f + "\n";
    EXPECT_EQ(got, want);
  }
}

}  // namespace
