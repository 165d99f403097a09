// The main window's controls follow the operating state and the connection;
// its dialogs leave the window's STOP in reach.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QPushButton>

#include "app/FormMain.h"
#include "app/ReportWindow.h"
#include "app/SerialNGBasicDLG.h"
#include "app/ServiceDialogs.h"
#include "base/OpState.h"
#include "support/Fakes.h"

namespace {

TEST(FormMain, ControlsFollowStateAndConnection) {
  TTFormMain form(false);
  EXPECT_FALSE(form.GroupBoxManualMove->isEnabled());
  form.SetConnected(true);
  EXPECT_TRUE(form.GroupBoxManualMove->isEnabled());
  EXPECT_TRUE(form.TaskStart->isEnabled());
  {
    TBusyGuard run(TaskRunning);
    ASSERT_TRUE(run.Entered());
    EXPECT_TRUE(form.TaskStop->isEnabled());
    EXPECT_FALSE(form.TaskStart->isEnabled());
    for (QGroupBox *b : {form.GroupBoxManualMove, form.GroupBoxPosition, form.GroupBoxProcess,
                         form.GroupBoxTask, form.GroupBoxSettings})
      EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_FALSE(form.ConnectButton->isEnabled());
    EXPECT_FALSE(form.Open1->isEnabled());
    EXPECT_TRUE(form.Exit1->isEnabled());
    // STOP pressed: no second start while the run unwinds, and its STOP
    // stays pressable for the move home.
    SetOpState(Unwinding);
    EXPECT_TRUE(form.TaskStop->isEnabled());
    EXPECT_FALSE(form.TaskStart->isEnabled());
  }
  EXPECT_TRUE(form.TaskStart->isEnabled());
  EXPECT_FALSE(form.TaskStop->isEnabled());
  {
    TBusyGuard jog(Moving);
    // STOP stays usable; no other move, task or connection check starts.
    EXPECT_TRUE(form.GroupBoxManualMove->isEnabled());
    EXPECT_FALSE(form.TaskStart->isEnabled() || form.ConnectButton->isEnabled() || form.XPlus->isEnabled());
  }
  // An error leaving a handler's scope must not leave the panels locked.
  try {
    TBusyGuard ref(Referencing);
    throw std::runtime_error("'x' is not a valid floating point value");
  } catch (const std::runtime_error &) {}
  EXPECT_EQ(OpState(), Idle);
  EXPECT_TRUE(form.TaskStart->isEnabled());
}

}  // namespace

// The menu's dialogs open modeless: no event loop of their own, the
// window's STOP in reach. The settings dialogs wait while a run goes, and
// a press that still reaches one sends nothing.
TEST(FormMain, MenuDialogsAreModelessAndWaitWhileBusy) {
  TTFormMain form(false);
  TFakeClock clock;  // the service move's waits, without a line
  Host().Clock = &clock;
  form.CreateDialogs();
  for (QAction *a : {form.VERI1, form.DigitalOutput1, form.About1}) a->trigger();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(form.SERSUtilities->isVisible() && form.SERSIOPanel->isVisible() && form.AboutBox->isVisible());
  const auto moved = [&] { return form.ReportWindow->toPlainText().contains("Manual Move LS"); };
  for (TOpState s : {TaskRunning, Idle}) {
    TBusyGuard busy(s);
    for (QDialog *d : std::initializer_list<QDialog *>{form.SerialNGBasicDLG, form.SERSUtilities, form.SERSIOPanel})
      EXPECT_EQ(d->isEnabled(), s == Idle) << d->objectName().toStdString();
    form.SERSUtilities->LeftButnClick();
    EXPECT_EQ(moved(), s == Idle);
  }
  Host().Clock = nullptr;
}
