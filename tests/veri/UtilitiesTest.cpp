// The service dialogs against simulated controllers on an in-process line.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSpinBox>
#include <algorithm>
#include <sys/stat.h>

#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "support/TempDir.h"
#include "base/Machine.h"
#include "veri/Outputs.h"
#include "veri/ServiceDialogs.h"
#include "veri/Utilities.h"

namespace {
struct TBarLog : IUploadView {
  bool Visible = false;
  int Position = 0, Maximum = 0, Steps = 0;
  void ShowBar(bool v) override { Visible = v; }
  void SetBar(int p, int m) override { Position = p, Maximum = m; }
  void StepBar() override { ++Position, ++Steps; }
};

class Utilities : public TTempDirTest {
protected:
  THostFixture Host;
  TSimLinePort Line;
};
}  // namespace

TEST_F(Utilities, LimitSwitchMoveSendsFiveCommandsAndStopsHalfASecondLater) {
  Line.Ctl(3).MotorOn = true;
  ManualLimitSwitchMove(3, 1);
  const std::vector<std::string> want = {"P11=0", "P12=0", "P1019=600", "P1031=1", "S"};
  EXPECT_EQ(Line.Commands(3), want);
  EXPECT_TRUE(Line.Commands(1).empty());
  // The 500 ms sleep lies between the start and the stop; the rest is exchange time.
  EXPECT_GE(Host.Clock.Slept, 500u);
  EXPECT_TRUE(Host.Report.HasPrefix(" Manual Move LS: HWAddr, Response:3, "));
}

TEST_F(Utilities, UploadTenLinesListsThemBackIntoTheDownloadFile) {
  std::string code;
  for (int i = 1; i <= 10; ++i) code += "LINE" + std::to_string(i) + " A=" + std::to_string(i) + "\r\n";
  Put("KV1pgm.ini", code);
  TBarLog bar;
  ASSERT_TRUE(UploadProgram(1, bar));

  const auto cmds = Line.Commands(1);
  ASSERT_EQ(cmds.size(), 22u);
  EXPECT_EQ(cmds.front(), "NEW");
  EXPECT_EQ(cmds[1], "LINE1 A=1");
  EXPECT_EQ(cmds[11], "QUIT");
  for (size_t i = 12; i < 22; ++i) EXPECT_EQ(cmds[i], "LIST+");
  EXPECT_EQ(Line.Ctl(1).Program.size(), 10u);
  // One line per answer: the answer words, each with its blank, CR LF after.
  EXPECT_EQ(Get("KV1pgmdwn.txt").substr(0, 22), "LINE1 A=1 \r\nLINE2 A=2 ");
  std::string out = Get("KV1pgmdwn.txt");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 10);
  EXPECT_EQ(bar.Maximum, 20);
  EXPECT_EQ(bar.Steps, 20);
  EXPECT_FALSE(bar.Visible);
  EXPECT_TRUE(Host.Report.Has("Load pgm code from : .\\KV1pgm.ini"));
  EXPECT_TRUE(Host.Report.Has("Save pgm download -> .\\KV1pgmdwn.txt"));
}

TEST_F(Utilities, EmptyCodeFileSendsNewAndQuitOnlyAndWritesAnEmptyFile) {
  Put("KV1pgm.ini", "");
  Put("KV1pgmdwn.txt", "old listing\r\n");
  TBarLog bar;
  ASSERT_TRUE(UploadProgram(2, bar));
  const std::vector<std::string> want = {"NEW", "QUIT"};
  EXPECT_EQ(Line.Commands(2), want);
  EXPECT_TRUE(Exists("KV1pgmdwn.txt"));
  EXPECT_EQ(Get("KV1pgmdwn.txt"), "");
}

TEST_F(Utilities, FileErrorsStopTheUploadAndAreShown) {
  TBarLog bar;
  EXPECT_FALSE(UploadProgram(1, bar));  // no code file
  EXPECT_TRUE(Line.Sent.empty());
  ASSERT_EQ(Host.Operator.Asked.size(), 1u);
  EXPECT_EQ(Host.Operator.Asked[0].Kind, TMsgKind::Error);
  EXPECT_NE(Host.Operator.Asked[0].Text.find("KV1pgm.ini"), std::string::npos);
  EXPECT_FALSE(bar.Visible);

  // The listing cannot be written: a folder stands in its place.
  Put("KV1pgm.ini", "A\r\n");
  ASSERT_EQ(mkdir("KV1pgmdwn.txt", 0755), 0);
  EXPECT_FALSE(UploadProgram(1, bar));
  ASSERT_EQ(Host.Operator.Asked.size(), 2u);
  EXPECT_NE(Host.Operator.Asked[1].Text.find("KV1pgmdwn.txt"), std::string::npos);
  EXPECT_TRUE(Host.Report.HasPrefix("*** Cannot write .\\KV1pgmdwn.txt: "));
  EXPECT_EQ(OtherFiles("KV1pgmdwn.txt"), "KV1pgm.ini\n");  // no temporary left behind
}

TEST_F(Utilities, OutputPanelTogglesTheShownChannelAndRenamesIt) {
  DigOutCount = 3;
  DigOutTable[2].Address = 2;
  DigOutTable[2].Pin = 4;
  DigOutTable[3].Address = 0;  // not wired
  TSERSIOPanel panel;
  EXPECT_EQ(panel.DOUpDown->minimum(), 1);
  EXPECT_EQ(panel.DOUpDown->maximum(), 3);

  panel.DOUpDown->setValue(2);
  EXPECT_EQ(panel.DOAxis->text(), "2");
  EXPECT_EQ(panel.DOPin->text(), "4");
  panel.Button1Click();
  EXPECT_EQ(panel.DOState->text(), "On");
  panel.Button1Click();
  EXPECT_EQ(panel.DOState->text(), "Off");
  const std::vector<std::string> want = {"P1204=1", "P1204=0"};
  EXPECT_EQ(Line.Commands(2), want);

  panel.DOUpDown->setValue(3);
  panel.Button1Click();
  EXPECT_EQ(Line.Sent.size(), 2u);
  EXPECT_EQ(panel.DOState->text(), "Off");

  int rebuilt = 0;
  panel.OnNameChanged = [&] { ++rebuilt; };
  panel.DOName->setText("Heater of the left bath");
  panel.DONameExit();
  EXPECT_EQ(DigOutTable[3].Name, "Heater of the le");
  EXPECT_EQ(rebuilt, 1);
}
