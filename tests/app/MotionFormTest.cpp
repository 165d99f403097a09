// Jog pad and displays of the main window (offscreen).
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "app/FormMain.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Manual.h"
#include "machine/Motion.h"

namespace {

class MotionForm : public ::testing::Test {
protected:
  void SetUp() override {
    ResetMachineDefaults();
    StopRequest = false;
    SetOpState(Idle);
  }
  void TearDown() override { SetOpState(Idle); }
  static QColor Background(QLabel *l) { return l->palette().color(QPalette::Window); }
};

TEST_F(MotionForm, SpeedButtonsAndSpeedDisplay) {
  TTFormMain form(false);
  THostFixture host;
  HighestSpeed = 2;
  CurrentSpeed = 3;
  form.VPlusClick();
  EXPECT_EQ(CurrentSpeed, 2);
  form.VPlusClick();
  EXPECT_EQ(CurrentSpeed, 2);
  form.VStandardClick();
  EXPECT_EQ(CurrentSpeed, 3);
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowV->text(), "3.0000");
  form.VMinusClick();
  EXPECT_EQ(CurrentSpeed, 1.5);
  form.VMinusClick();
  form.VMinusClick();
  EXPECT_EQ(CurrentSpeed, 0.375);
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowV->text(), "0.3750");
  CurrentSpeed = 12.34567;
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowV->text(), "12.3460");  // five significant digits
}

TEST_F(MotionForm, AxisDisplayStates) {
  TTFormMain form(false);
  THostFixture host;
  form.ShowPosTimer();  // every axis Changed at start
  EXPECT_EQ(form.ShowXPos->text(), "n.c.");
  EXPECT_EQ(form.XUnit->text(), "");
  EXPECT_FALSE(form.GroupBoxX->isEnabled());
  EXPECT_FALSE(form.GroupBoxZ->isEnabled());

  Axes[1].Connected = true;
  Axes[1].Changed = true;
  form.ShowPosTimer();
  EXPECT_TRUE(form.GroupBoxX->isEnabled());
  EXPECT_EQ(form.ShowXPos->text(), "Off");
  EXPECT_EQ(form.XUnit->text(), "");  // kept

  Axes[1].MotorOn = true;
  Axes[1].Changed = true;
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowXPos->text(), "NoRef");
  EXPECT_EQ(form.XUnit->text(), "!!!");

  Axes[1].Referenced = true;
  Axes[1].Position = 12.345;
  Axes[1].Moving = true;
  Axes[1].Speed = 2;
  Axes[1].Changed = true;
  form.ShowPosTimer();
  EXPECT_TRUE(form.ShowXPos->text() == "12.35" || form.ShowXPos->text() == "12.34")
      << form.ShowXPos->text().toStdString();
  EXPECT_EQ(form.XUnit->text(), "cm");
  EXPECT_EQ(Background(form.XLabel), QColor(128, 0, 0));
  EXPECT_EQ(form.ShowV->text(), "2.0000");  // the moving axis's speed
  EXPECT_FALSE(Axes[1].Changed);

  // No new position: display kept, speed back to CurrentSpeed.
  Axes[1].Position = 30;
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowV->text(), "3.0000");
  EXPECT_NE(form.ShowXPos->text(), "30.00");

  Axes[1].Moving = false;
  Axes[1].Changed = true;
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowXPos->text(), "30.00");
  EXPECT_EQ(Background(form.XLabel), QColor(0, 128, 128));
}

TEST_F(MotionForm, TwoMotorMachineNeverRefreshesY) {
  TTFormMain form(false);
  THostFixture host;
  NMotors = 2;
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowYPos->text(), "YY.YY");
  EXPECT_TRUE(Axes[2].Changed);
  EXPECT_EQ(form.ShowZPos->text(), "n.c.");
}

TEST_F(MotionForm, DoubleClickSwitchesMotorCurrent) {
  TTFormMain form(false);
  THostFixture host;
  TSimLinePort line;
  for (int a = 1; a <= 3; ++a) Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
  line.Ctl(3).MotorOn = true;
  form.ShowPosTimer();
  form.XYZLabelClick(form.ZLabel);
  EXPECT_FALSE(Axes[3].MotorOn);
  EXPECT_FALSE(line.Ctl(3).MotorOn);
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowZPos->text(), "Off");
  form.XYZLabelClick(form.ZLabel);
  EXPECT_TRUE(line.Ctl(3).MotorOn);
  form.ShowPosTimer();
  EXPECT_EQ(form.ShowZPos->text(), "0.00");

  line.Sent.clear();
  form.XYZLabelClick(form.VLabel);
  EXPECT_TRUE(line.Sent.empty());
}

TEST_F(MotionForm, JogButtonsEnableStopWhileMoving) {
  TTFormMain form(false);
  THostFixture host;
  TSimLinePort line;
  for (int a = 1; a <= 3; ++a) {
    Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
    line.Ctl(a).MotorOn = true;
  }
  form.SetConnected(true);
  std::vector<bool> stopEnabled;
  host.Events.OnPump = [&] {
    stopEnabled.push_back(form.ManualStop->isEnabled());
    if (host.Events.Pumps == 4) form.ManualStop->click();
  };
  form.ZPlus->click();
  ASSERT_GE(stopEnabled.size(), 4u);
  EXPECT_TRUE(stopEnabled[0]);
  EXPECT_FALSE(form.ManualStop->isEnabled());
  EXPECT_EQ(line.Commands(3)[0], "V=1200.0000 WA=250.0000 E");
  EXPECT_FALSE(Axes[3].Moving);

  // During a task run the pad does nothing.
  line.Sent.clear();
  SetOpState(TaskRunning);
  form.XPlusClick();
  form.HomePosClick();
  EXPECT_TRUE(line.Sent.empty());
}

// The emergency-stop box closed with Esc, or open when the program is told
// to end, must not repeat the move once the button is released.
TEST_F(MotionForm, EmergencyBoxClosedWithoutAnswerMovesNothing) {
  TTFormMain form(false);
  THostFixture host;
  Host().Operator = &form;
  TSimLinePort line;
  line.Ctl(1).MotorOn = Axes[1].Connected = Axes[1].MotorOn = Axes[1].Referenced = true;
  bool ending = false;
  int boxes = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    ++boxes;
    line.Control("estop 1 release");
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    if (ending) form.EndProgram();
    else QApplication::sendEvent(box, &esc);
  });
  watch.start(0);
  for (ending = false; boxes < 2; ending = true) {
    line.Sent.clear();
    line.Control("estop 1 press");
    bool ok = true;
    MoveTo(1, ok, 2, 20 + boxes);
    EXPECT_FALSE(ok);
    EXPECT_EQ(line.Commands(1)[0].substr(0, 2), "V=");
    EXPECT_EQ(std::count_if(line.Sent.begin(), line.Sent.end(),
                            [](const std::string &f) { return f.find("V=") != std::string::npos; }), 1);
  }
  EXPECT_TRUE(TaskAbort());  // ending: the STOP dialog gives up, unasked
  EXPECT_EQ(boxes, 2);
}

}  // namespace
