#include "app/FormMain.h"

#include <QFormLayout>
#include <QDialogButtonBox>
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "app/Application.h"
#include "app/Desktop.h"
#include "base/OpState.h"
#include "app/ReportWindow.h"
#include "app/RunRecordWindow.h"
#include "app/SimulatedRobot.h"
#include "machine/Manual.h"
#include "machine/Motion.h"
#include "tasks/RunEvents.h"
#include "tasks/TaskRun.h"

#include "base/Machine.h"
#include "machine/Startup.h"
#include "record/RunRecord.h"
#include "serial/SerialPortNG.h"

TTFormMain *FormMain = nullptr;

void TClickLabel::mouseDoubleClickEvent(QMouseEvent *event) {
  QLabel::mouseDoubleClickEvent(event);
  emit doubleClicked();
}

TTFormMain::TTFormMain(bool withMachine, QWidget *parent) : QMainWindow(parent), WithMachine(withMachine) {
  Clock.start();
  Simulator = new TSimulatedRobot(this);
  setObjectName("TFormMain");
  setWindowTitle("Kavetra");
  setWindowIcon(ProgramIcon());
  setFont(QFont("Arial", 8));
  resize(1024, 840);
  move(0, 0);

  BuildPanels();
  BuildStatusBar();
  BuildMenu();
  ConnectHandlers();

  ShowPos = new QTimer(this);
  ShowPos->setObjectName("ShowPos");
  ShowPos->setInterval(5);
  // The timer sleeps while nothing moves and nothing waits to be shown: every
  // change is made on this thread, and the thread gets back to its events
  // (the loop going idle, or ProcessMessages inside an operation) before the
  // display could show it anyway, so WakeDisplay there shows it in time.
  connect(ShowPos, &QTimer::timeout, this, [this] {
    RunHandler([this] { ShowPosTimer(); });
    if (!DisplayDue()) ShowPos->stop();
  });
  // The loop is about to sleep: a queued call wakes it to show what waits.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this, [this] {
    if (!ShowPos->isActive() && DisplayDue())
      QMetaObject::invokeMethod(
          this, [this] { WakeDisplay(); }, Qt::QueuedConnection);
  });

  FormMain = this;
  SetProgramEnding(false);
  THost &h = Host();
  h.Report = ReportWindow;
  h.Operator = this;
  h.Events = this;
  h.Clock = this;
  SetOpStateListener([this] { UpdateControls(); });
  UpdateControls();

  FormCreate();
  ShowPos->start();
  // What the disk did not take at a run's end is written once it can be.
  auto *retry = new QTimer(this);
  retry->setInterval(2000);
  connect(retry, &QTimer::timeout, this, [] {
    if (RunRecorder().Behind()) RunRecorder().Retry();
  });
  retry->start();
}

TTFormMain::~TTFormMain() {
  ShowPos->stop();
  if (RunRecorder().Behind()) RunRecorder().Retry();
  delete RunRecordView;  // a window of its own, not a child
  FormDestroy();
  SetOpStateListener(nullptr);
  // Only our own entries: a test may have installed others meanwhile.
  THost &h = Host();
  if (h.Report == ReportWindow) h.Report = nullptr;
  if (h.Operator == this) h.Operator = nullptr;
  if (h.Events == this) h.Events = nullptr;
  if (h.Clock == this) h.Clock = nullptr;
  if (FormMain == this) FormMain = nullptr;
}

namespace {
TStartupHooks FormHooks(TTFormMain *form) {
  TStartupHooks h;
  h.AdaptToTwoMotors = [form] { form->AdaptToTwoMotors(); };
  h.RefreshEditors = [form] { form->RefreshEditors(); };
  // The port is still closed while its settings are set one by one.
  h.SetPort = [form](const std::string &port) {
    form->StartSimulatorFor(port);
    SerialPortNG1->SetCommPort(port);
  };
  h.SetBaud = [](int32_t v) { SerialPortNG1->SetBaudRate(uint32_t(v)); };
  h.SetDataBits = [](int32_t v) { SerialPortNG1->SetDataBits(uint8_t(v)); };
  h.SetStopBits = [](int32_t v) { SerialPortNG1->SetStopBits(uint8_t(v)); };
  h.SetParity = [](int32_t v) { SerialPortNG1->SetParityType(uint8_t(v)); };
  h.SetControl = [](int32_t v) { SerialPortNG1->SetFlowControl(v); };
  h.SetFastReplies = [](int32_t mode) { SerialPortNG1->SetFastReplies(TFastReplies(mode)); };
  h.OpenPort = [] {
    SerialPortNG1->ThreadQuietMode = true;
    SerialPortNG1->SetActive(true);
  };
  h.ClosePort = [] { SerialPortNG1->SetActive(false); };
  return h;
}
}  // namespace

void TTFormMain::FormCreate() {
  if (!WithMachine) return;
  CreateSerialPortNG1();
  RunHandler([this] { RunStartup(FormHooks(this)); });
}

void TTFormMain::closeEvent(QCloseEvent *event) {
  Ending = true;
  SetProgramEnding();
  if (OpState() == Idle) {
    QMainWindow::closeEvent(event);
    return;
  }
  // A move or run is still waiting inside us: leaving now would strand the
  // machine mid-stroke. Stop it as STOP would, keep the window until the
  // run has unwound (no move starts any more, not even home), then close.
  event->ignore();
  if (!CloseWhenIdle) ReportLine("Closing when the machine has stopped ..");
  CloseWhenIdle = true;
  StopAll("as the program ends");
}

void TTFormMain::FormDestroy() {
  if (!WithMachine || ShutDownDone) return;
  ShutDownDone = true;
  // Shown while this window is still the host, so the box gets its caption.
  RunHandler([this] { RunShutdown(FormHooks(this)); });
  // Closing stopped the worker; the port object goes with the window.
  DestroySerialPortNG1();
}

// --- host interfaces -------------------------------------------------------

namespace {
struct TButtonMap {
  unsigned Ours;
  QMessageBox::StandardButton Qt;
};
const TButtonMap ButtonMap[] = {
    {mbYes, QMessageBox::Yes},       {mbNo, QMessageBox::No},       {mbOK, QMessageBox::Ok},
    {mbCancel, QMessageBox::Cancel}, {mbAbort, QMessageBox::Abort}, {mbRetry, QMessageBox::Retry},
    {mbIgnore, QMessageBox::Ignore},
};
}  // namespace

unsigned TTFormMain::Ask(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
                         unsigned ending) {
  // Nobody is left to choose once the program is ending.
  if (Ending && (buttons & (buttons - 1))) return ending;
  QMessageBox::Icon icon = QMessageBox::Warning;
  switch (kind) {
    case TMsgKind::Warning: icon = QMessageBox::Warning; break;
    case TMsgKind::Error: icon = QMessageBox::Critical; break;
    case TMsgKind::Information: icon = QMessageBox::Information; break;
    case TMsgKind::Confirmation: icon = QMessageBox::Question; break;
  }
  QMessageBox::StandardButtons qtButtons;
  for (const auto &m : ButtonMap)
    if (buttons & m.Ours) qtButtons |= m.Qt;
  if (!qtButtons) {
    qtButtons = QMessageBox::Ok;
    buttons = closed = ending = mbOK;
  }
  QMessageBox box(icon, ApplicationTitle, QString::fromStdString(text), qtButtons, this);
  // Esc and the close box press this button; left to Qt they would press
  // the box's "reject" button, which may be the one that moves (Abort).
  for (const auto &m : ButtonMap)
    if (m.Ours == closed) box.setEscapeButton(box.button(m.Qt));
  // Those who follow the run (the remote page) see the box wait and go.
  TRunEvent asked;
  asked.Kind = TRunEventKind::QuestionAsked;
  asked.Text = text;
  SendRunEvent(asked);
  const qint64 opened = Clock.elapsed();
  const int pressed = box.exec();
  asked.Kind = TRunEventKind::QuestionAnswered;
  asked.Answer = box.clickedButton() ? box.clickedButton()->text().remove('&').toStdString() : "closed";
  asked.Seconds = (Clock.elapsed() - opened) / 1000.0;
  SendRunEvent(asked);
  if (Ending) return ending;
  for (const auto &m : ButtonMap)
    if (pressed == m.Qt && (buttons & m.Ours)) return m.Ours;
  return closed;
}

bool TTFormMain::AskTexts(const std::string &title,
                          std::vector<std::pair<std::string, std::string>> &fields) {
  if (Ending) return false;
  QDialog box(this);
  box.setWindowTitle(QString::fromStdString(title));
  auto *form = new QFormLayout(&box);
  std::vector<QLineEdit *> edits;
  for (const auto &f : fields) {
    edits.push_back(new QLineEdit(QString::fromStdString(f.second), &box));
    form->addRow(QString::fromStdString(f.first), edits.back());
  }
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
  connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  form->addRow(buttons);
  if (box.exec() != QDialog::Accepted || Ending) return false;
  for (size_t i = 0; i < fields.size(); ++i) fields[i].second = edits[i]->text().trimmed().toStdString();
  return true;
}

void TTFormMain::EndProgram() {
  Ending = true;
  SetProgramEnding();
  // Open boxes and dialogs first, so the window's close is not held up by one.
  for (QWidget *w : QApplication::topLevelWidgets())
    if (w != this && w->isVisible() && w->isModal()) w->close();
  close();
}

void TTFormMain::ProcessMessages() {
  WakeDisplay();
  QCoreApplication::processEvents();
}

void TTFormMain::WakeDisplay() {
  if (ShowPos->isActive() || !DisplayDue()) return;
  RunHandler([this] { ShowPosTimer(); });  // what waits is shown now, not a tick later
  if (DisplayDue()) ShowPos->start();      // an axis moves: follow it
}

uint32_t TTFormMain::GetTickCount() { return static_cast<uint32_t>(Clock.elapsed()); }

void TTFormMain::Sleep(uint32_t ms) { QThread::msleep(ms); }

int64_t TTFormMain::WallMs() { return QDateTime::currentMSecsSinceEpoch(); }

// --- controls from the state ----------------------------------------------

void TTFormMain::UpdateControls() {
  const TOpState s = OpState();
  if (CloseWhenIdle && s == Idle) QTimer::singleShot(0, this, [this] { close(); });
  const TControls c = ControlsFor(s, Connected, TaskStartAllowed);
  GroupBoxManualMove->setEnabled(c.JogPad);
  for (QGroupBox *b : {GroupBoxPosition, GroupBoxProcess, GroupBoxTask, GroupBoxSettings})
    b->setEnabled(c.Panels);
  TaskStart->setEnabled(c.TaskStart);
  TaskStop->setEnabled(c.TaskStop);
  CheckSyntax->setEnabled(c.Check);
  ConnectButton->setEnabled(c.Connect);
  ManualStop->setEnabled(ManualStopEnabled());
  for (QPushButton *b : {XPlus, XMinus, YPlus, YMinus, ZPlus, ZMinus, HomePos, ReferencePos})
    b->setEnabled(c.Jog);
  // Nothing opens a nested event loop while anything runs or moves: the
  // run's own questions are the only modal boxes. The Run record window and
  // the About box are windows of their own; Exit stops as STOP does.
  for (QAction *a : {New1, Save1, SaveAs1, Open1, OpenDialog1, AddFile1, Communication1, VERI1, DigitalOutput1,
                     RemoteAccess1})
    a->setEnabled(c.Menus);
}

void TTFormMain::SetConnected(bool connected) {
  Connected = connected;
  UpdateControls();
}

void TTFormMain::SetTaskStartAllowed(bool allowed) {
  TaskStartAllowed = allowed;
  UpdateControls();
}

void TTFormMain::AdaptToTwoMotors() {
  QWidget *const yControls[] = {PosYEdit, PosYLabel, HomeYEdit, HomeYLabel, GroupBoxY, YPlus, YMinus};
  for (QWidget *w : yControls) w->hide();
  PosGetXY->setText("Get X");
  GetXYZ->setText("Get XZ");
}
