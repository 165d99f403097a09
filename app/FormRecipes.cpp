// The recipe editors ("[ Position ]", "[ Process ]", "[ Task ]",
// "[ Settings ]") and the "&File" menu. The handlers only move values between
// the widgets and the logic in recipes/.
#include <algorithm>

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "base/Convert.h"
#include "app/FormMain.h"
#include "app/FormRecipes.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "recipes/DefinitionsFile.h"
#include "recipes/Editors.h"

const char *const TypingLimit = "typingLimit";

std::function<std::string(QFileDialog &dialog)> RunFileDialog = [](QFileDialog &dialog) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
  return dialog.selectedFiles().first().toStdString();
};

namespace {

class TBackgroundClick : public QObject {
public:
  TBackgroundClick(QWidget *panel, std::function<void()> handler)
      : QObject(panel), Handler(std::move(handler)) {}
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::MouseButtonPress && watched == parent()) Handler();
    return false;
  }

private:
  std::function<void()> Handler;
};

}  // namespace

void OnBackgroundClick(QWidget *panel, std::function<void()> handler) {
  panel->installEventFilter(new TBackgroundClick(panel, std::move(handler)));
}

namespace {

// While the panels are filled from the tables, the change signals of the
// edits and up-downs must not write back: an edit limited to 10 characters
// would cut a longer stored name, and an up-down would select a slot.
int Refreshing = 0;
struct TRefreshing {
  TRefreshing() { ++Refreshing; }
  ~TRefreshing() { --Refreshing; }
};

std::string Text(const QLineEdit *e) { return e->text().toStdString(); }

// Sets the text only when it differs, so the cursor stays where the
// operator is typing. A stored value longer than the typing limit (a name of
// 16, "-1234.60") is shown whole: setText would cut it to the edit's maximum,
// and the next keystroke would store the stub.
void SetText(QLineEdit *e, const std::string &text) {
  const QString t = QString::fromStdString(text);
  if (e->text() == t) return;
  const int cursor = e->cursorPosition();
  const int limit = e->property(TypingLimit).toInt();
  if (limit > 0) e->setMaxLength(std::max({limit, int(t.size()), int(e->text().size())}));
  e->setText(t);
  if (limit > 0) e->setMaxLength(std::max(limit, int(t.size())));
  e->setCursorPosition(cursor);
}

void SetUpDown(QSpinBox *upDown, int last, int position) {
  upDown->setRange(0, last);
  upDown->setValue(position);
}

void FillList(QComboBox *list, const QStringList &items, int selected) {
  list->clear();
  list->addItems(items);
  list->setCurrentIndex(selected < list->count() ? selected : -1);
}

// The up-down's position as a slot of a table with last index `count`.
uint8_t Slot(const QSpinBox *upDown, uint8_t count) {
  const int v = upDown->value();
  return static_cast<uint8_t>(v < 0 ? 0 : v > count ? count : v);
}

}  // namespace

// --- refresh operations ------------------------------------------------------

void TTFormMain::UpdatePosEntry(uint8_t i) {
  TRefreshing r;
  PositionNr->setText(QString::number(PosCount));
  SetText(PosNameEdit, PosTable[i].Name);
  SetText(PosXEdit, FormatPosition(PosTable[i].X));
  SetText(PosYEdit, FormatPosition(PosTable[i].Y));
  SetUpDown(PosUpDown, PosCount, i);
}

void TTFormMain::UpdatePositionList() {
  TRefreshing r;
  QStringList names;
  for (int k = 0; k <= PosCount; ++k) names << QString::fromStdString(PosTable[k].Name);
  // The list belongs to the process panel: it shows the process's position.
  FillList(PositionSelect, names, ProcTable[CurProc].PosNo);
}

void TTFormMain::UpdateProcEntry(uint8_t i) {
  TRefreshing r;
  const TProcEntry &p = ProcTable[i];
  ProcessNr->setText(QString::number(ProcCount));
  SetText(ProcNameEdit, p.Name);
  PositionSelect->setCurrentIndex(p.PosNo < PositionSelect->count() ? p.PosNo : -1);
  NoTunksEdit->setText(QString::number(p.NoTunks));
  SetText(UpperPosEdit, FormatPosition(p.UpperPos));
  SetText(LowPosEdit, FormatPosition(p.LowPos));
  SetText(InTimeEdit, FormatPosition(p.InTime));
  SetText(OutTimeEdit, FormatPosition(p.OutTime));
  SetText(InSpeedEdit, FormatSpeed(p.InSpeed));
  SetText(OutSpeedEdit, FormatSpeed(p.OutSpeed));
  ChNoSelect->setCurrentIndex(p.ChNo >= 0 && p.ChNo < ChNoSelect->count() ? p.ChNo : -1);
  ChModeSelect->setCurrentIndex(p.ChMode >= 0 && p.ChMode < ChModeSelect->count() ? p.ChMode : -1);
  ChNoSelect->setEnabled(ChannelListsEnabled(p.InTime));
  ChModeSelect->setEnabled(ChannelListsEnabled(p.InTime));
  SetUpDown(ProcUpDown, ProcCount, i);
}

void TTFormMain::UpdateProcessList() {
  TRefreshing r;
  QStringList names;
  for (int k = 0; k <= ProcCount; ++k) names << QString::fromStdString(ProcTable[k].Name);
  FillList(ProcessSelect, names, CurProc);
}

void TTFormMain::UpdateChannelList() {
  TRefreshing r;
  QStringList names{"none"};
  const int count = DigOutCount < 0 ? 0 : DigOutCount > DigOutMax ? DigOutMax : DigOutCount;
  for (int k = 1; k <= count; ++k) names << QString::fromStdString(DigOutTable[k].Name);
  // Renaming an output must not make the shown process look channel-less.
  const int32_t chNo = ProcTable[CurProc].ChNo;
  FillList(ChNoSelect, names, chNo >= 0 ? chNo : -1);
}

void TTFormMain::UpdateTaskEntry(uint8_t i) {
  TRefreshing r;
  const TTaskEntry &t = TaskTable[i];
  TaskNr->setText(QString::number(TaskCount));
  SetText(TaskNameEdit, t.Name);
  SetText(TaskEdit, t.Line);
  SetTaskStartAllowed(!t.Line.empty());
  SetUpDown(TaskUpDown, TaskCount, i);
}

void TTFormMain::UpdateTaskList() {
  if (CurTask == 0) SetTaskStartAllowed(false);
}

void TTFormMain::UpdateSettingsEntry() {
  TRefreshing r;
  const TMachineSettings &s = MachineSettings;
  SetText(HomeXEdit, FormatPosition(s.HomeX));
  if (NMotors == 3) SetText(HomeYEdit, FormatPosition(s.HomeY));
  SetText(HomeZEdit, FormatPosition(s.HomeZ));
  SetText(MasterZEdit, FormatPosition(s.StandardZ));
  SetText(MasterSpeedEdit, FormatSpeed(s.StandardV));
}

void TTFormMain::RefreshEditors() {
  CurPos = CurProc = CurTask = 0;
  UpdatePosEntry(PosCount);
  UpdateProcEntry(ProcCount);
  UpdateTaskEntry(TaskCount);
  UpdatePositionList();
  UpdateProcessList();
  UpdateTaskList();
  UpdateSettingsEntry();
  UpdateChannelList();
}

// --- position panel ----------------------------------------------------------

void TTFormMain::PosUpDownClick() {
  if (Refreshing) return;
  CurPos = Slot(PosUpDown, PosCount);
  UpdatePosEntry(CurPos);
}

void TTFormMain::PosNameEditChange() {
  if (Refreshing) return;
  PosTable[CurPos].Name = CleanName(Text(PosNameEdit));
  UpdatePosEntry(CurPos);
}

void TTFormMain::PosNameEditExit() {
  UpdatePosEntry(CurPos);
  UpdatePositionList();
}

void TTFormMain::PosXEditChange() { SetText(PosXEdit, FormatPosition(TakePosCoord(1, Text(PosXEdit)))); }

void TTFormMain::PosYEditChange() { SetText(PosYEdit, FormatPosition(TakePosCoord(2, Text(PosYEdit)))); }

void TTFormMain::PosAddClick() {
  if (!AddPosition()) return;
  UpdatePosEntry(CurPos);
  UpdatePositionList();
}

void TTFormMain::PosDelClick() {
  if (!DeletePosition()) return;
  UpdatePosEntry(CurPos);
  UpdatePositionList();
}

void TTFormMain::PosGetXYClick() {
  GetPosXY();
  SetText(PosXEdit, FormatPosition(PosTable[CurPos].X));
  if (NMotors == 3) SetText(PosYEdit, FormatPosition(PosTable[CurPos].Y));
}

void TTFormMain::PosGotoXYClick() { GotoXY(Text(PosXEdit), Text(PosYEdit)); }

// --- process panel -----------------------------------------------------------

void TTFormMain::ProcUpDownClick() {
  if (Refreshing) return;
  CurProc = Slot(ProcUpDown, ProcCount);
  UpdateProcEntry(CurProc);
}

void TTFormMain::ProcNameEditChange() {
  if (Refreshing) return;
  ProcTable[CurProc].Name = CleanName(Text(ProcNameEdit));
  TRefreshing r;
  SetText(ProcNameEdit, ProcTable[CurProc].Name);
}

void TTFormMain::ProcNameEditExit() {
  UpdateProcEntry(CurProc);
  UpdateProcessList();
}

void TTFormMain::PositionSelectChange() {
  if (PositionSelect->currentIndex() >= 0)
    ProcTable[CurProc].PosNo = static_cast<uint8_t>(PositionSelect->currentIndex());
}

void TTFormMain::ChModeSelectChange() {
  if (ChModeSelect->currentIndex() >= 0) ProcTable[CurProc].ChMode = ChModeSelect->currentIndex();
}

void TTFormMain::ChNoSelectChange() {
  if (ChNoSelect->currentIndex() >= 0) ProcTable[CurProc].ChNo = ChNoSelect->currentIndex();
}

namespace {
void TakeInto(QLineEdit *edit, TProcNumber field, bool speed) {
  const double v = TakeProcNumber(field, Text(edit));
  SetText(edit, speed ? FormatSpeed(v) : FormatPosition(v));
}
}  // namespace

void TTFormMain::UpperPosEditChange() { TakeInto(UpperPosEdit, TProcNumber::UpperPos, false); }
void TTFormMain::LowPosEditChange() { TakeInto(LowPosEdit, TProcNumber::LowPos, false); }
void TTFormMain::InSpeedEditChange() { TakeInto(InSpeedEdit, TProcNumber::InSpeed, true); }
void TTFormMain::OutSpeedEditChange() { TakeInto(OutSpeedEdit, TProcNumber::OutSpeed, true); }
void TTFormMain::OutTimeEditChange() { TakeInto(OutTimeEdit, TProcNumber::OutTime, false); }

void TTFormMain::InTimeEditChange() {
  TakeInto(InTimeEdit, TProcNumber::InTime, false);
  const bool enabled = ChannelListsEnabled(ProcTable[CurProc].InTime);
  ChModeSelect->setEnabled(enabled);
  ChNoSelect->setEnabled(enabled);
}

void TTFormMain::NoTunksEditChange() {
  NoTunksEdit->setText(QString::number(TakeNoTunks(Text(NoTunksEdit))));
}

void TTFormMain::GetZUpperClick() {
  GetProcZ(true);
  SetText(UpperPosEdit, FormatPosition(ProcTable[CurProc].UpperPos));
}

void TTFormMain::GetZLowerClick() {
  GetProcZ(false);
  SetText(LowPosEdit, FormatPosition(ProcTable[CurProc].LowPos));
}

void TTFormMain::GetInSpeedClick() {
  GetProcSpeed(true);
  SetText(InSpeedEdit, FormatSpeed(ProcTable[CurProc].InSpeed));
}

void TTFormMain::GetOutSpeedClick() {
  GetProcSpeed(false);
  SetText(OutSpeedEdit, FormatSpeed(ProcTable[CurProc].OutSpeed));
}

void TTFormMain::ProcAddClick() {
  if (!AddProcess()) return;
  UpdateProcEntry(CurProc);
  UpdateProcessList();
}

void TTFormMain::ProcDelClick() {
  if (!DeleteProcess()) return;
  UpdateProcEntry(CurProc);
  UpdateProcessList();
}

// --- task panel --------------------------------------------------------------

void TTFormMain::TaskUpDownClick() {
  if (Refreshing) return;
  CurTask = Slot(TaskUpDown, TaskCount);
  UpdateTaskEntry(CurTask);
}

void TTFormMain::TaskNameEditChange() {
  if (Refreshing) return;
  TaskTable[CurTask].Name = CleanName(Text(TaskNameEdit));
  TRefreshing r;
  SetText(TaskNameEdit, TaskTable[CurTask].Name);
}

void TTFormMain::TaskNameEditExit() { UpdateTaskEntry(CurTask); }

void TTFormMain::TaskEditChange() {
  if (Refreshing) return;
  TaskTable[CurTask].Line = TaskLineOf(Text(TaskEdit));
}

void TTFormMain::ProcessSelectChange(QObject *sender) {
  if (sender == ProcessSelect) {
    if (ProcessSelect->currentIndex() >= 0)
      AddToTaskLine(TBuilderItem::Process, ProcessSelect->currentIndex());
  } else if (sender == BraButton) {
    AddToTaskLine(TBuilderItem::Bra);
  } else if (sender == PlusButton) {
    AddToTaskLine(TBuilderItem::Plus);
  } else if (sender == KetButton) {
    AddToTaskLine(TBuilderItem::Ket);
  } else if (sender == StarButton) {
    AddToTaskLine(TBuilderItem::Star);
  }
  UpdateTaskEntry(CurTask);
}

void TTFormMain::TaskAddClick() {
  if (!AddTask()) return;
  UpdateTaskEntry(CurTask);
  UpdateTaskList();
}

void TTFormMain::TaskDelClick() {
  if (!DeleteTask()) return;
  UpdateTaskEntry(CurTask);
  UpdateTaskList();
}

// --- settings panel ----------------------------------------------------------

void TTFormMain::HomeXEditChange() {
  TakeSetting(TSetting::HomeX, Text(HomeXEdit));
  UpdateSettingsEntry();
}

void TTFormMain::HomeYEditChange() {
  TakeSetting(TSetting::HomeY, Text(HomeYEdit));
  UpdateSettingsEntry();
}

void TTFormMain::HomeZEditChange() {
  TakeSetting(TSetting::HomeZ, Text(HomeZEdit));
  UpdateSettingsEntry();
}

void TTFormMain::MasterZEditChange() {
  TakeSetting(TSetting::StandardZ, Text(MasterZEdit));
  UpdateSettingsEntry();
}

void TTFormMain::MasterSpeedEditChange() {
  TakeSetting(TSetting::StandardV, Text(MasterSpeedEdit));
  UpdateSettingsEntry();
}

void TTFormMain::GetXYZClick() {
  GetHomeXYZ();
  UpdateSettingsEntry();
}

void TTFormMain::GetMasterZClick() {
  GetStandardZ();
  UpdateSettingsEntry();
}

void TTFormMain::GetMasterSpeedClick() {
  GetStandardV();
  UpdateSettingsEntry();
}

// --- "&File" menu ------------------------------------------------------------

void TTFormMain::New1Click() {
  ResetDefinitions();
  UpdatePosEntry(PosCount);
  UpdateProcEntry(ProcCount);
  UpdateTaskEntry(TaskCount);
  UpdatePositionList();
  UpdateProcessList();
  UpdateTaskList();
}

void TTFormMain::SaveClick(QObject *sender) {
  std::string path = LastDefinitionsFile;
  if (sender == SaveAs1) {
    QFileDialog dialog(this, "Save Definitions");
    dialog.setObjectName("SaveDialog1");
    dialog.setNameFilter("Definitions (*.dip)");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    path = RunFileDialog(dialog);
    if (path.empty()) return;
  }
  SaveDefinitions(path);
}

void TTFormMain::OpenClick(QObject *sender) {
  std::string path = LastDefinitionsFile;
  if (sender != Open1) {
    QFileDialog dialog(this, "Load Definitions");
    dialog.setObjectName("OpenDialog1");
    dialog.setNameFilter("Definitions (all) (*.dip)");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    path = RunFileDialog(dialog);
    if (path.empty()) return;
  }
  LoadDefinitionsFrom(path, sender == AddFile1);
}

void TTFormMain::LoadDefinitionsFrom(const std::string &path, bool append) {
  LoadDefinitions(path, append, [this] {
    UpdatePosEntry(PosCount);
    UpdatePositionList();
    UpdateProcEntry(ProcCount);
    UpdateProcessList();
    UpdateTaskEntry(TaskCount);
    UpdateTaskList();
    UpdateSettingsEntry();
  });
}
