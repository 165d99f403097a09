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

// Definitions file
void TTFormMain::New1Click() {}
void TTFormMain::SaveClick(QObject *) {}
void TTFormMain::OpenClick(QObject *) {}

// Position panel
void TTFormMain::PosUpDownClick() {}
void TTFormMain::PosNameEditChange() {}
void TTFormMain::PosNameEditExit() {}
void TTFormMain::PosXEditChange() {}
void TTFormMain::PosYEditChange() {}
void TTFormMain::PosAddClick() {}
void TTFormMain::PosDelClick() {}
void TTFormMain::PosGetXYClick() {}
void TTFormMain::PosGotoXYClick() {}

// Process panel
void TTFormMain::ProcUpDownClick() {}
void TTFormMain::ProcNameEditChange() {}
void TTFormMain::ProcNameEditExit() {}
void TTFormMain::PositionSelectChange() {}
void TTFormMain::UpperPosEditChange() {}
void TTFormMain::InSpeedEditChange() {}
void TTFormMain::InTimeEditChange() {}
void TTFormMain::LowPosEditChange() {}
void TTFormMain::OutSpeedEditChange() {}
void TTFormMain::OutTimeEditChange() {}
void TTFormMain::GetZUpperClick() {}
void TTFormMain::GetZLowerClick() {}
void TTFormMain::GetInSpeedClick() {}
void TTFormMain::GetOutSpeedClick() {}
void TTFormMain::ChModeSelectChange() {}
void TTFormMain::ChNoSelectChange() {}
void TTFormMain::NoTunksEditChange() {}
void TTFormMain::ProcAddClick() {}
void TTFormMain::ProcDelClick() {}

// Task panel
void TTFormMain::TaskUpDownClick() {}
void TTFormMain::TaskNameEditChange() {}
void TTFormMain::TaskNameEditExit() {}
void TTFormMain::TaskEditChange() {}
void TTFormMain::ProcessSelectChange(QObject *) {}
void TTFormMain::TaskAddClick() {}
void TTFormMain::TaskDelClick() {}
void TTFormMain::CheckSyntaxClick() {}

// Settings panel
void TTFormMain::HomeXEditChange() {}
void TTFormMain::HomeYEditChange() {}
void TTFormMain::HomeZEditChange() {}
void TTFormMain::MasterZEditChange() {}
void TTFormMain::MasterSpeedEditChange() {}
void TTFormMain::GetXYZClick() {}
void TTFormMain::GetMasterZClick() {}
void TTFormMain::GetMasterSpeedClick() {}

// Task run
void TTFormMain::TaskStartClick() {}
void TTFormMain::TaskStopClick() {}

// Jog pad, displays, connection
void TTFormMain::XPlusClick() {}
void TTFormMain::XMinusClick() {}
void TTFormMain::YPlusClick() {}
void TTFormMain::YMinusClick() {}
void TTFormMain::ZPlusClick() {}
void TTFormMain::ZMinusClick() {}
void TTFormMain::ManualStopClick() {}
void TTFormMain::HomePosClick() {}
void TTFormMain::ReferencePosClick() {}
void TTFormMain::VStandardClick() {}
void TTFormMain::VPlusClick() {}
void TTFormMain::VMinusClick() {}
void TTFormMain::XYZLabelClick(QObject *) {}
void TTFormMain::ConnectButtonClick() {}
void TTFormMain::ShowPosTimer() {}
