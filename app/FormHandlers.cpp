// The menu handlers of the main window; the panels' handlers live beside
// their subsystem's (FormRecipes, FormTask, FormMotion, FormConnect).
#include <QDialog>

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
void TTFormMain::About1Click() {
  if (AboutBox) AboutBox->exec();
}

// Shown beside the main window, never modal: a run goes on while it is open.
void TTFormMain::RunRecord1Click() {
  if (!RunRecordView) RunRecordView = new TRunRecordWindow(this);
  RunRecordView->show();
  RunRecordView->raise();
  RunRecordView->activateWindow();
}
