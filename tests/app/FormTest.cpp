// The main window's frame: places, captions, menu, initial states, host.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "app/Dialogs.h"
#include "app/FormMain.h"
#include "app/OpState.h"
#include "app/ReportWindow.h"

namespace {

template <typename T = QWidget>
T *Find(QObject *root, const char *name) {
  T *w = root->findChild<T *>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

TEST(FormMain, WindowPanelsAndCaptions) {
  TTFormMain form(false);
  EXPECT_EQ(form.windowTitle(), "Kavetra");
  EXPECT_EQ(form.size(), QSize(1024, 840));
  EXPECT_EQ(form.pos(), QPoint(0, 0));
  EXPECT_EQ(form.font().family(), "Arial");
  EXPECT_EQ(form.font().pointSize(), 8);

  struct TPanel {
    const char *Name, *Caption;
    QRect Place;
  } panels[] = {
      {"GroupBoxPosition", "[ Position ]", {18, 0, 399, 137}},
      {"GroupBoxProcess", "[ Process ]", {18, 136, 399, 329}},
      {"GroupBoxTask", "[ Task ]", {18, 464, 399, 225}},
      {"GroupBoxSettings", "[ Settings ]", {424, 0, 289, 305}},
      {"GroupBoxReport", "[ Report ]", {424, 304, 289, 251}},
      {"GroupBoxExecute", "[ Execute Task ]", {424, 554, 289, 135}},
      {"GroupBoxX", "", {720, 0, 280, 60}},
      {"GroupBoxY", "", {720, 56, 280, 60}},
      {"GroupBoxZ", "", {720, 112, 280, 60}},
      {"GroupBoxV", "", {720, 176, 280, 60}},
      {"GroupBoxManualMove", "[Manual Movement]", {720, 232, 281, 369}},
      {"GroupBox1", "", {720, 592, 281, 97}},
  };
  for (const TPanel &p : panels) {
    auto *box = Find<QGroupBox>(&form, p.Name);
    if (!box) continue;
    EXPECT_EQ(box->title(), p.Caption) << p.Name;
    EXPECT_EQ(box->geometry(), p.Place) << p.Name;
    EXPECT_TRUE(box->font().bold()) << p.Name;
    EXPECT_EQ(box->font().pointSize(), 12) << p.Name;
  }
  EXPECT_EQ(form.GroupBoxPosition->palette().color(QPalette::Window), QColor(166, 202, 240));
  EXPECT_EQ(form.GroupBoxTask->palette().color(QPalette::Window), QColor(192, 220, 192));
  EXPECT_EQ(form.GroupBoxExecute->palette().color(QPalette::Window), QColor(192, 220, 192));
  // The panels' controls do not inherit the bold caption font.
  EXPECT_FALSE(form.PosNameEdit->font().bold());
  EXPECT_EQ(form.PosNameEdit->font().pointSize(), 8);

  // Every control other parts of the program address by name.
  for (const char *name :
       {"PositionNr", "PosUpDown", "PosNameEdit", "PosXEdit", "PosYEdit", "PosAdd", "PosDel",
        "PosGetXY", "PosGotoXY", "ProcessNr", "ProcUpDown", "ProcNameEdit", "PositionSelect",
        "UpperPosEdit", "InSpeedEdit", "InTimeEdit", "LowPosEdit", "OutSpeedEdit", "OutTimeEdit",
        "GetZUpper", "GetZLower", "GetInSpeed", "GetOutSpeed", "ChModeSelect", "ChNoSelect",
        "NoTunksEdit", "ProcAdd", "ProcDel", "TaskNr", "TaskUpDown", "TaskNameEdit", "TaskEdit",
        "ProcessSelect", "BraButton", "PlusButton", "KetButton", "StarButton", "TaskAdd",
        "TaskDel", "CheckSyntax", "HomeXEdit", "HomeYEdit", "HomeZEdit", "MasterZEdit",
        "MasterSpeedEdit", "GetXYZ", "GetMasterZ", "GetMasterSpeed", "ReportWindow", "TaskStart",
        "TaskStop", "WaitLabel", "WaitBar", "ShowXPos", "ShowYPos", "ShowZPos", "ShowV",
        "ConnectButton", "BitBtn1", "ProgressBar1", "StatusBar1"})
    Find(&form, name);

  auto *report = form.ReportWindow;
  EXPECT_EQ(report->parentWidget(), form.GroupBoxReport);
  EXPECT_EQ(report->geometry(), QRect(16, 24, 273, 227));
  EXPECT_TRUE(report->isReadOnly());
  EXPECT_EQ(report->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_NE(report->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
  EXPECT_FALSE(report->font().bold());
  EXPECT_EQ(report->font().pointSize(), 8);

  EXPECT_EQ(form.ConnectButton->text(), "Connect");
  EXPECT_EQ(form.ConnectButton->geometry(), QRect(8, 40, 129, 49));
  EXPECT_EQ(form.ConnectButton->toolTip(), "Connect to VERI");
  EXPECT_EQ(form.BitBtn1->text(), "E&xit");
  EXPECT_EQ(form.BitBtn1->geometry(), QRect(144, 40, 129, 49));
  EXPECT_EQ(form.BitBtn1->toolTip(), "Exit Program");
  EXPECT_EQ(form.ProgressBar1->geometry(), QRect(16, 16, 249, 17));
  EXPECT_EQ(form.TaskStart->text(), "Start");
  EXPECT_EQ(form.TaskStart->toolTip(), "Start Task ");
  EXPECT_EQ(form.TaskStart->font().pointSize(), 18);
  EXPECT_EQ(form.TaskStop->text(), "STOP");
  EXPECT_EQ(form.TaskStop->toolTip(), "Stop Task Execution");
  EXPECT_EQ(form.WaitLabel->text(), "waiting:");
  EXPECT_EQ(form.ChModeSelect->count(), 6);
  EXPECT_EQ(form.ChModeSelect->itemText(5), "On_at_T_higher");
  EXPECT_EQ(form.PosNameEdit->maxLength(), 10);
  EXPECT_EQ(form.PosXEdit->maxLength(), 7);
  EXPECT_GT(form.NoTunksEdit->maxLength(), 1000);  // no limit
  EXPECT_EQ(form.ShowXPos->text(), "XX.XX");
  EXPECT_EQ(form.ShowV->text(), "VV.VVVV");
  EXPECT_EQ(form.ManualStop->size(), QSize(87, 70));
  EXPECT_EQ(form.XPlus->size(), QSize(70, 70));
  EXPECT_EQ(form.XPlus->toolTip(), "Move Left");
}

TEST(FormMain, InitialStateTimerAndStatusBar) {
  TTFormMain form(false);
  form.show();
  EXPECT_FALSE(form.TaskStop->isEnabled());
  // Red when it can be pressed, greyed like any disabled button otherwise.
  EXPECT_EQ(form.TaskStop->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::red));
  EXPECT_NE(form.TaskStop->palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(Qt::red));
  EXPECT_FALSE(form.GroupBoxManualMove->isEnabled());
  EXPECT_FALSE(form.GroupBoxX->isEnabled());
  EXPECT_TRUE(form.GroupBoxY->isEnabled());
  EXPECT_FALSE(form.ManualStop->isEnabled());
  EXPECT_FALSE(form.WaitLabel->isVisible());
  EXPECT_FALSE(form.WaitBar->isVisible());
  EXPECT_FALSE(form.ProgressBar1->isVisible());
  EXPECT_TRUE(form.ConnectButton->isVisible());

  EXPECT_EQ(form.ShowPos->objectName(), "ShowPos");
  EXPECT_EQ(form.ShowPos->interval(), 5);
  EXPECT_TRUE(form.ShowPos->isActive());

  auto panels = form.statusBar()->findChildren<QLabel *>();
  ASSERT_EQ(panels.size(), 3);
  const int widths[3] = {300, 50, 50};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(panels[i]->width(), widths[i]);
    EXPECT_TRUE(panels[i]->text().isEmpty());
  }
  EXPECT_TRUE(form.statusBar()->currentMessage().isEmpty());
}

TEST(FormMain, MenuItemsAndShortcuts) {
  TTFormMain form(false);
  struct TItem {
    const char *Menu, *Caption, *Shortcut;
  } expected[] = {
      {"&File", "&New", ""},          {"&File", "&Save", "Ctrl+S"},
      {"&File", "Save &as ...", ""},  {"&File", "&Open", "Ctrl+O"},
      {"&File", "Open ...", ""},      {"&File", "Add File ...", ""},
      {"&File", "", ""},              {"&File", "E&xit", "Ctrl+X"},
      {"&Settings", "&Communication", ""}, {"&Settings", "S&ERS Utilities", ""},
      {"&Settings", "Digital &Output", ""}, {"&Help", "About", ""},
  };
  std::vector<TItem> found;
  std::vector<std::string> texts;
  for (QAction *top : form.menuBar()->actions()) {
    for (QAction *a : top->menu()->actions()) {
      texts.push_back(top->text().toStdString() + "|" + a->text().toStdString() + "|" +
                      a->shortcut().toString().toStdString() + "|" +
                      (a->isSeparator() ? "sep" : ""));
    }
  }
  ASSERT_EQ(texts.size(), std::size(expected));
  for (size_t i = 0; i < texts.size(); ++i) {
    const TItem &e = expected[i];
    const std::string want = std::string(e.Menu) + "|" + e.Caption + "|" + e.Shortcut + "|" +
                             (*e.Caption ? "" : "sep");
    EXPECT_EQ(texts[i], want);
  }
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

TEST(Dialogs, CreatedInOrderAndAboutBox) {
  CreateDialogs();
  ASSERT_NE(SerialNGBasicDLG, nullptr);
  ASSERT_NE(AboutBox, nullptr);
  ASSERT_NE(SERSIOPanel, nullptr);
  ASSERT_NE(SERSUtilities, nullptr);
  for (QDialog *d : std::initializer_list<QDialog *>{SerialNGBasicDLG, AboutBox, SERSIOPanel, SERSUtilities})
    EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(AboutBox->windowTitle(), "About");
  EXPECT_EQ(AboutBox->size(), QSize(298, 213));
  bool version = false;
  for (QLabel *l : AboutBox->findChildren<QLabel *>()) version |= l->text() == "Version  1.3";
  EXPECT_TRUE(version);
  // The OK button closes it.
  QTimer::singleShot(0, [] {
    if (auto *ok = AboutBox->findChild<QPushButton *>("OKButton")) ok->click();
  });
  EXPECT_EQ(AboutBox->exec(), QDialog::Accepted);
  DestroyDialogs();
  EXPECT_EQ(AboutBox, nullptr);
  EXPECT_EQ(SERSUtilities, nullptr);
}

}  // namespace
