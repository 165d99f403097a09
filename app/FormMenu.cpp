// Main menu and the wiring of every control to its handler. Each handler
// runs through RunHandler, so an error it raises ends only that handler.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>

#include "app/Application.h"
#include "app/FormMain.h"
#include "app/FormRecipes.h"

namespace {
QAction *Item(QMenu *menu, const char *name, const char *caption, const char *shortcut = nullptr) {
  QAction *a = menu->addAction(caption);
  a->setObjectName(name);
  if (shortcut) a->setShortcut(QKeySequence(shortcut));
  return a;
}
}  // namespace

void TTFormMain::BuildMenu() {
  QMenuBar *bar = menuBar();
  bar->setObjectName("MainMenu1");
  QMenu *file = bar->addMenu("&File");
  file->setObjectName("File1");
  New1 = Item(file, "New1", "&New");
  Save1 = Item(file, "Save1", "&Save", "Ctrl+S");
  SaveAs1 = Item(file, "SaveAs1", "Save &as ...");
  Open1 = Item(file, "Open1", "&Open", "Ctrl+O");
  OpenDialog1 = Item(file, "OpenDialog1", "Open ...");
  AddFile1 = Item(file, "AddFile1", "Add File ...");
  file->addSeparator();
  Exit1 = Item(file, "Exit1", "E&xit", "Ctrl+X");

  QMenu *settings = bar->addMenu("&Settings");
  settings->setObjectName("Settings1");
  Communication1 = Item(settings, "Communication1", "&Communication");
  VERI1 = Item(settings, "VERI1", "S&ERS Utilities");
  DigitalOutput1 = Item(settings, "DigitalOutput1", "Digital &Output");
  // Not modal and left enabled: it is meant to be watched during a run.
  RunRecord1 = Item(settings, "RunRecord1", "&Run record");
  RemoteAccess1 = Item(settings, "RemoteAccess1", "Remote &access");  // wired by the program entry
  LabAutomation1 = Item(settings, "LabAutomation1", "&Lab automation (SiLA 2)");  // wired by the program entry

  QMenu *help = bar->addMenu("&Help");
  help->setObjectName("Help1");
  About1 = Item(help, "About1", "About");
}

void TTFormMain::ConnectHandlers() {
  // One connection per (sender, signal, handler); the handler runs guarded.
  auto on = [this](auto *sender, auto signal, void (TTFormMain::*handler)()) {
    connect(sender, signal, this, [this, handler] { RunHandler([&] { (this->*handler)(); }); });
  };
  auto onSender = [this](auto *sender, auto signal, void (TTFormMain::*handler)(QObject *)) {
    connect(sender, signal, this, [this, handler, sender] { RunHandler([&] { (this->*handler)(sender); }); });
  };

  on(New1, &QAction::triggered, &TTFormMain::New1Click);
  for (QAction *a : {Save1, SaveAs1}) onSender(a, &QAction::triggered, &TTFormMain::SaveClick);
  for (QAction *a : {Open1, OpenDialog1, AddFile1}) onSender(a, &QAction::triggered, &TTFormMain::OpenClick);
  on(Exit1, &QAction::triggered, &TTFormMain::Exit1Click);
  on(Communication1, &QAction::triggered, &TTFormMain::ChangeSerialSettings);
  on(VERI1, &QAction::triggered, &TTFormMain::VERI1Click);
  on(DigitalOutput1, &QAction::triggered, &TTFormMain::DigitalOutput1Click);
  on(RunRecord1, &QAction::triggered, &TTFormMain::RunRecord1Click);
  on(About1, &QAction::triggered, &TTFormMain::About1Click);

  const auto clicked = &QPushButton::clicked;
  const auto upDown = qOverload<int>(&QSpinBox::valueChanged);
  const auto changed = &QLineEdit::textChanged;
  const auto left = &QLineEdit::editingFinished;
  const auto chosen = qOverload<int>(&QComboBox::activated);

  on(PosUpDown, upDown, &TTFormMain::PosUpDownClick);
  on(PosNameEdit, changed, &TTFormMain::PosNameEditChange);
  on(PosNameEdit, left, &TTFormMain::PosNameEditExit);
  on(PosXEdit, left, &TTFormMain::PosXEditChange);
  on(PosYEdit, left, &TTFormMain::PosYEditChange);
  on(PosAdd, clicked, &TTFormMain::PosAddClick);
  on(PosDel, clicked, &TTFormMain::PosDelClick);
  on(PosGetXY, clicked, &TTFormMain::PosGetXYClick);
  on(PosGotoXY, clicked, &TTFormMain::PosGotoXYClick);

  on(ProcUpDown, upDown, &TTFormMain::ProcUpDownClick);
  on(ProcNameEdit, changed, &TTFormMain::ProcNameEditChange);
  on(ProcNameEdit, left, &TTFormMain::ProcNameEditExit);
  on(PositionSelect, chosen, &TTFormMain::PositionSelectChange);
  on(UpperPosEdit, left, &TTFormMain::UpperPosEditChange);
  on(InSpeedEdit, left, &TTFormMain::InSpeedEditChange);
  on(InTimeEdit, left, &TTFormMain::InTimeEditChange);
  on(LowPosEdit, left, &TTFormMain::LowPosEditChange);
  on(OutSpeedEdit, left, &TTFormMain::OutSpeedEditChange);
  on(OutTimeEdit, left, &TTFormMain::OutTimeEditChange);
  on(GetZUpper, clicked, &TTFormMain::GetZUpperClick);
  on(GetZLower, clicked, &TTFormMain::GetZLowerClick);
  on(GetInSpeed, clicked, &TTFormMain::GetInSpeedClick);
  on(GetOutSpeed, clicked, &TTFormMain::GetOutSpeedClick);
  on(ChModeSelect, chosen, &TTFormMain::ChModeSelectChange);
  on(ChNoSelect, chosen, &TTFormMain::ChNoSelectChange);
  on(NoTunksEdit, left, &TTFormMain::NoTunksEditChange);
  on(ProcAdd, clicked, &TTFormMain::ProcAddClick);
  on(ProcDel, clicked, &TTFormMain::ProcDelClick);

  on(TaskUpDown, upDown, &TTFormMain::TaskUpDownClick);
  on(TaskNameEdit, changed, &TTFormMain::TaskNameEditChange);
  on(TaskNameEdit, left, &TTFormMain::TaskNameEditExit);
  on(TaskEdit, changed, &TTFormMain::TaskEditChange);
  onSender(ProcessSelect, chosen, &TTFormMain::ProcessSelectChange);
  for (QPushButton *b : {BraButton, PlusButton, KetButton, StarButton})
    onSender(b, clicked, &TTFormMain::ProcessSelectChange);
  OnBackgroundClick(GroupBoxTask, [this] { RunHandler([this] { ProcessSelectChange(GroupBoxTask); }); });
  on(TaskAdd, clicked, &TTFormMain::TaskAddClick);
  on(TaskDel, clicked, &TTFormMain::TaskDelClick);
  on(CheckSyntax, clicked, &TTFormMain::CheckSyntaxClick);

  on(HomeXEdit, left, &TTFormMain::HomeXEditChange);
  on(HomeYEdit, left, &TTFormMain::HomeYEditChange);
  on(HomeZEdit, left, &TTFormMain::HomeZEditChange);
  on(MasterZEdit, left, &TTFormMain::MasterZEditChange);
  on(MasterSpeedEdit, left, &TTFormMain::MasterSpeedEditChange);
  on(GetXYZ, clicked, &TTFormMain::GetXYZClick);
  on(GetMasterZ, clicked, &TTFormMain::GetMasterZClick);
  on(GetMasterSpeed, clicked, &TTFormMain::GetMasterSpeedClick);

  on(TaskStart, clicked, &TTFormMain::TaskStartClick);
  on(TaskStop, clicked, &TTFormMain::TaskStopClick);

  on(XPlus, clicked, &TTFormMain::XPlusClick);
  on(XMinus, clicked, &TTFormMain::XMinusClick);
  on(YPlus, clicked, &TTFormMain::YPlusClick);
  on(YMinus, clicked, &TTFormMain::YMinusClick);
  on(ZPlus, clicked, &TTFormMain::ZPlusClick);
  on(ZMinus, clicked, &TTFormMain::ZMinusClick);
  on(ManualStop, clicked, &TTFormMain::ManualStopClick);
  on(HomePos, clicked, &TTFormMain::HomePosClick);
  on(ReferencePos, clicked, &TTFormMain::ReferencePosClick);
  on(VStandard, clicked, &TTFormMain::VStandardClick);
  on(VPlus, clicked, &TTFormMain::VPlusClick);
  on(VMinus, clicked, &TTFormMain::VMinusClick);
  for (TClickLabel *l : {XLabel, YLabel, ZLabel, VLabel})
    onSender(l, &TClickLabel::doubleClicked, &TTFormMain::XYZLabelClick);

  on(ConnectButton, clicked, &TTFormMain::ConnectButtonClick);
  // The shut-down runs from the window's destruction, not from here.
  connect(BitBtn1, &QPushButton::clicked, this, &QWidget::close);
}
