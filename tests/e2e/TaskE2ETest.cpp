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
// error: a fresh folder whose settings name only the port. Connect sends the
// same frames off, on and automatic (where the line check judges them): no
// register write but the motors' the operator asked for.
using FreshFolderE2E = TTempDirTest;
TEST_F(FreshFolderE2E, OnlyThePortSetConnectsWithoutError) {
  THostFixture host;
  TSimProcess sim({"--axes", "1,2,3"});
  const TFastReplies mode = FastRepliesUnderTest();
  Put("KVSettings.ini", "[COMPortSettings]\r\nPort=" + sim.SlavePath + "\r\n" +
                            (mode == TFastReplies::Automatic ? "" : "FastReplies=" + std::to_string(int(mode)) + "\r\n"));
  TTFormMain form;
  ::Host().Operator = &host.Operator;
  host.Operator.Answers = {mbYes, mbNo};
  VERICheckConnection();
  std::string frames, want;
  for (auto &f : sim.Frames()) frames += f + "\n";
  for (const char *a : {"#1 ", "#2 ", "#3 "})
    for (const char *c : {"VER", "P403?", "P134?", "P1013?"}) want += a + std::string(c) + "\n";
  EXPECT_EQ(frames, want + "#1 P134=7\n#2 P134=7\n#3 P134=7\n");
  EXPECT_EQ(SerialPortNG1->ReplyRule().EchoOnly[3], mode == TFastReplies::Automatic);  // earned by a write
  const std::string log = form.ReportWindow->toPlainText().toStdString();
  EXPECT_EQ(log.find("***"), std::string::npos) << log;
  EXPECT_NE(log.find("line set to 1 stop bit"), std::string::npos) << log;
  EXPECT_TRUE(Axes[3].Connected);
  EXPECT_EQ(SerialPortNG1->FastReplies(), mode);  // absent: automatic
}

}  // namespace
