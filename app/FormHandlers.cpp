// The menu handlers of the main window; the panels' handlers live beside
// their subsystem's (FormRecipes, FormTask, FormMotion, FormConnect).
#include <QDialog>

#include "app/Dialogs.h"
#include "app/FormMain.h"
#include "app/RunRecordWindow.h"
#include "machine/Startup.h"
#include "serial/SerialPortNG.h"

void TTFormMain::Exit1Click() { close(); }

// The line settings of the program's port, kept in ".\KVSettings.ini".
void TTFormMain::ChangeSerialSettings() {
  if (SerialPortNG1) ::ChangeSerialSettings(*CreateSerialNGBasicDLG(), *SerialPortNG1, SettingsIniFile);
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
