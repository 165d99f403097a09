// The menu handlers of the main window; the panels' handlers live beside
// their subsystem's (FormRecipes, FormTask, FormMotion, FormConnect).
#include <QDialog>

#include "app/Dialogs.h"
#include "app/FormMain.h"

void TTFormMain::Exit1Click() { close(); }

void TTFormMain::ChangeSerialSettings() { ::ChangeSerialSettings(); }

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
