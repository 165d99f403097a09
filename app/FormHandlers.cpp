// The menu handlers of the main window; the panels' handlers live beside
// their subsystem's (FormRecipes, FormTask, FormMotion, FormConnect).
#include <QDialog>
#include <QScreen>
#include <algorithm>

#include "app/Dialogs.h"
#include "app/FormMain.h"
#include "app/RunRecordWindow.h"
#include "app/SerialNGBasicDLG.h"
#include "app/ServiceDialogs.h"
#include "app/SimulatedRobot.h"
#include "base/Handler.h"
#include "base/OpState.h"
#include "machine/Startup.h"
#include "serial/SerialPortNG.h"
#include "veri/LineCheck.h"

void TTFormMain::Exit1Click() { close(); }

namespace {
// Modeless: the window's STOP stays in reach and no nested event loop holds
// a move that pumps events below.
void ShowModeless(QWidget *w) {
  if (!w) return;
  w->show();
  w->raise();
  w->activateWindow();
}
}  // namespace

void TTFormMain::CreateDialogs() {
  if (SerialNGBasicDLG) return;
  SerialNGBasicDLG = new TSerialNGBasicDLG();
  // "Check line" in Settings / Communication: the full check of the line as it is.
  SerialNGBasicDLG->OnCheckLine = [] {
    TBusyGuard busy(Moving);
    return busy.Entered() ? VERICheckLine(VERILineAddresses()) : std::string("The machine is busy.");
  };
  ConnectSimulatedRobot(*SerialNGBasicDLG, *Simulator);
  connect(SerialNGBasicDLG, &QDialog::accepted, this, [this] { RunHandler([this] { SerialSettingsAccepted(); }); });
  AboutBox = new TAboutBox();
  SERSIOPanel = new TSERSIOPanel();
  // A renamed channel shows at once in the process editor's list.
  SERSIOPanel->OnNameChanged = [this] { UpdateChannelList(); };
  SERSUtilities = new TSERSUtilities();
  UpdateControls();
}

// The line settings of the program's port, kept in ".\KVSettings.ini".
void TTFormMain::ChangeSerialSettings() {
  if (!SerialPortNG1 || !SerialNGBasicDLG) return;
  // Asked again while open: the operator's choices so far stay.
  if (!SerialNGBasicDLG->isVisible()) SerialNGBasicDLG->LoadPortSettings(*SerialPortNG1);
  ShowModeless(SerialNGBasicDLG);
}

void TTFormMain::SerialSettingsAccepted() {
  // The dialog is disabled while anything is under way; this holds anyway.
  if (!SerialPortNG1 || OpState() != Idle) return;
  SaveSerialSettings(*SerialNGBasicDLG, *SerialPortNG1, SettingsIniFile);
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

// The three "show" items only show the dialog created at start.
void TTFormMain::VERI1Click() { ShowModeless(SERSUtilities); }
void TTFormMain::DigitalOutput1Click() { ShowModeless(SERSIOPanel); }
void TTFormMain::About1Click() { ShowModeless(AboutBox); }

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
