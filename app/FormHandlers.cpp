// Handlers of the main window. Each stays thin: it calls the operation of
// its subsystem. Those of subsystems not yet in the program are empty.
#include <QDialog>

#include "app/Dialogs.h"
#include "app/FormMain.h"

void TTFormMain::Exit1Click() { close(); }

// The three "show" items only show the dialog created at start and wait.
void TTFormMain::ChangeSerialSettings() { ::ChangeSerialSettings(); }
void TTFormMain::VERI1Click() {
  if (SERSUtilities) SERSUtilities->exec();
}
void TTFormMain::DigitalOutput1Click() {
  if (SERSIOPanel) SERSIOPanel->exec();
}
void TTFormMain::About1Click() {
  if (AboutBox) AboutBox->exec();
}

// Task panel
