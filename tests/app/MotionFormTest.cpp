// The jog pad of the main window (offscreen).
#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "app/FormMain.h"
#include "base/OpState.h"
#include "base/Machine.h"
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
};

// The emergency-stop box closed with Esc, or open when the program is told
// to end, must not repeat the move once the button is released.
TEST_F(MotionForm, EmergencyBoxClosedOrEndingRepeatsNoMove) {
  TTFormMain form(false);
  THostFixture host;
  TSimLinePort line;
  for (int a = 1; a <= 3; ++a) line.Ctl(a).MotorOn = true;
  Host().Operator = &form;
  int boxes = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    line.Control("estop 1 release");
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    if (++boxes == 2) form.EndProgram();
    else QApplication::sendEvent(box, &esc);
  });
  watch.start(0);
  for (int n = 1; n <= 2; ++n) {
    line.Control("estop 1 press");
    bool ok = true;
    MoveTo(1, ok, 2, 20 + n);
    EXPECT_FALSE(ok);
  }
  const std::vector<std::string> moves = line.Commands(1);
  EXPECT_EQ(std::count_if(moves.begin(), moves.end(), [](const std::string &c) { return c[0] == 'V'; }), 2);
  EXPECT_TRUE(TaskAbort());  // ending: the STOP dialog gives up, unasked
  EXPECT_EQ(boxes, 2);
}

}  // namespace
