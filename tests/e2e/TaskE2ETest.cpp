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
  Put("KVSettings.ini", "[COMPortSettings]\r\nPort=" + sim.SlavePath + "\r\n" +
                            (FastRepliesUnderTest() ? "FastReplies=1\r\n" : ""));
  TTFormMain form;
  ::Host().Operator = &host.Operator;
  host.Operator.Answers = {mbNo, mbNo};
  VERICheckConnection();
  const std::string log = form.ReportWindow->toPlainText().toStdString();
  EXPECT_EQ(log.find("***"), std::string::npos) << log;
  EXPECT_NE(log.find("line set to 1 stop bit"), std::string::npos) << log;
  EXPECT_TRUE(Axes[3].Connected);
  EXPECT_EQ(SerialPortNG1->FastReplies(),
            FastRepliesUnderTest() ? TFastReplies::On : TFastReplies::Automatic);
}

}  // namespace
