// The menu handlers of the main window; the panels' handlers live beside
// their subsystem's (FormRecipes, FormTask, FormMotion, FormConnect).
#include <QDialog>
#include <QScreen>
#include <algorithm>

#include "app/Dialogs.h"
#include "app/FormMain.h"
#include "app/RunRecordWindow.h"
#include "app/SimulatedRobot.h"
#include "serial/SerialNGBasicDLG.h"
#include "machine/Startup.h"
#include "serial/SerialPortNG.h"

void TTFormMain::Exit1Click() { close(); }

// The line settings of the program's port, kept in ".\KVSettings.ini".
void TTFormMain::ChangeSerialSettings() {
  if (!SerialPortNG1) return;
  TSerialNGBasicDLG *dlg = CreateSerialNGBasicDLG();
  if (!dlg->property("kvSimulator").toBool()) {
    ConnectSimulatedRobot(*dlg, *Simulator);
    dlg->setProperty("kvSimulator", true);
  }
  if (!::ChangeSerialSettings(*dlg, *SerialPortNG1, SettingsIniFile)) return;
  // A simulator nobody talks to any more need not run.
  if (QString::fromStdString(SerialPortNG1->CommPort()) != TSimulatedRobot::LinkPath()) Simulator->Stop();
  else ReportLine("Port: the simulated robot on " + SerialPortNG1->CommPort());
}

void TTFormMain::StartSimulatorFor(const std::string &port) {
  const QString link = TSimulatedRobot::LinkPath();
  if (QString::fromStdString(port) != link) return;
  QString error;
  if (Simulator->Start(error)) ReportLine("Simulated robot started on " + port);
  else ReportLine("*** The simulated robot cannot be started: " + error.toStdString());
}

// The three "show" items only show the dialog created at start and wait.
void TTFormMain::VERI1Click() {
  if (SERSUtilities) SERSUtilities->exec();
}
void TTFormMain::DigitalOutput1Click() {
  if (SERSIOPanel) SERSIOPanel->exec();
}
// Not modal: a box waiting in a nested loop would hold up a run's polls and
// its STOP.
void TTFormMain::About1Click() {
  if (!AboutBox) return;
  AboutBox->show();
  AboutBox->raise();
}

// A top-level window of its own, never modal and never kept above the main
// window: a click on the main window brings its STOP buttons to the front.
// It starts beside the main window where the screen has room.
void TTFormMain::RunRecord1Click() {
  if (!RunRecordView) {
    RunRecordView = new TRunRecordWindow(nullptr);
    const QRect main = frameGeometry();
    if (const QScreen *screen = this->screen()) {
      const QRect free = screen->availableGeometry();
      if (free.right() - main.right() >= 600)
        RunRecordView->setGeometry(main.right() + 8, main.top() + 30,
                                   std::min(980, free.right() - main.right() - 16), 640);
    }
  }
  RunRecordView->show();
  RunRecordView->raise();
  RunRecordView->activateWindow();
}
