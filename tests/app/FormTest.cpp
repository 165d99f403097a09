// The main window's frame: places, captions, menu, initial states, host.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/FormMain.h"
#include "base/OpState.h"
#include "app/ReportWindow.h"

namespace {

template <typename T = QWidget>
T *Find(QObject *root, const char *name) {
  T *w = root->findChild<T *>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// One representative check of the frame; the rest follows the same table.
TEST(FormMain, TitleAndAPanelCaption) {
  TTFormMain form(false);
  EXPECT_EQ(form.windowTitle(), "Kavetra");
  EXPECT_EQ(Find<QGroupBox>(&form, "GroupBoxExecute")->title(), "[ Execute Task ]");
  EXPECT_EQ(form.ChModeSelect->count(), 6);
}

TEST(FormMain, HostInstalledAndRemoved) {
  THost saved = Host();
  {
    TTFormMain form(false);
    EXPECT_EQ(FormMain, &form);
    EXPECT_EQ(Host().Report, static_cast<IReportSink *>(form.ReportWindow));
    EXPECT_EQ(Host().Operator, static_cast<IOperator *>(&form));
    EXPECT_EQ(Host().Events, static_cast<IEventPump *>(&form));
    EXPECT_EQ(Host().Clock, static_cast<IClock *>(&form));
    const uint32_t t0 = GetTickCount();
    SleepMs(2);
    EXPECT_GE(GetTickCount() - t0, 1u);
  }
  EXPECT_EQ(FormMain, nullptr);
  EXPECT_EQ(Host().Report, nullptr);
  EXPECT_EQ(Host().Operator, nullptr);
  EXPECT_EQ(Host().Events, nullptr);
  EXPECT_EQ(Host().Clock, nullptr);
  Host() = saved;
}

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
    EXPECT_TRUE(form.BitBtn1->isEnabled());
    // STOP pressed: no second start while the run unwinds.
    SetOpState(Unwinding);
    EXPECT_FALSE(form.TaskStop->isEnabled());
    EXPECT_FALSE(form.TaskStart->isEnabled());
  }
  EXPECT_EQ(OpState(), Idle);
  EXPECT_TRUE(form.TaskStart->isEnabled());
  EXPECT_FALSE(form.TaskStop->isEnabled());
  EXPECT_TRUE(form.GroupBoxTask->isEnabled());
  EXPECT_TRUE(form.GroupBoxManualMove->isEnabled());
  {
    TBusyGuard jog(Moving);
    // Nested jogs and STOP stay usable; no task or connection check starts.
    EXPECT_TRUE(form.GroupBoxManualMove->isEnabled());
    EXPECT_FALSE(form.TaskStart->isEnabled());
    EXPECT_FALSE(form.ConnectButton->isEnabled());
    EXPECT_TRUE(form.GroupBoxPosition->isEnabled());
  }
  form.SetTaskStartAllowed(false);
  EXPECT_FALSE(form.TaskStart->isEnabled());
}

TEST(FormMain, TwoMotorMachineHidesY) {
  TTFormMain form(false);
  form.show();
  form.AdaptToTwoMotors();
  for (QWidget *w : std::vector<QWidget *>{form.PosYEdit, form.PosYLabel, form.HomeYEdit,
                                           form.HomeYLabel, form.GroupBoxY, form.YPlus,
                                           form.YMinus})
    EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
  EXPECT_TRUE(form.PosXEdit->isVisible());
  EXPECT_EQ(form.PosGetXY->text(), "Get X");
  EXPECT_EQ(form.GetXYZ->text(), "Get XZ");
}

}  // namespace
