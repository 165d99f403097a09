// The main window's controls follow the operating state and the connection.
#include <gtest/gtest.h>

#include <QAction>
#include <QGroupBox>
#include <QPushButton>

#include "app/FormMain.h"
#include "base/OpState.h"

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
