// Panels of the main window at their fixed places.
#include <algorithm>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>

#include "app/FormMain.h"
#include "app/FormRecipes.h"
#include "app/ReportWindow.h"

namespace {

const QColor SkyBlue(166, 202, 240);
const QColor PaleGreen(192, 220, 192);
const QColor Teal(0, 128, 128);

QFont Arial(int points, bool bold = false) {
  QFont f("Arial", points);
  f.setBold(bold);
  return f;
}

QFont ArialPixels(int pixels) {
  QFont f("Arial");
  f.setPixelSize(pixels);
  f.setBold(true);
  return f;
}

void Fill(QWidget *w, const QColor &colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

// Disabled controls keep the greyed text, so a disabled red STOP does not
// look ready to press.
void TextColour(QWidget *w, const QColor &colour) {
  QPalette p = w->palette();
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
    p.setColor(g, QPalette::ButtonText, colour);
    p.setColor(g, QPalette::WindowText, colour);
  }
  w->setPalette(p);
}

template <typename T>
T *Place(T *w, const char *name, int left, int top, int width, int height) {
  w->setObjectName(name);
  w->setGeometry(left, top, width, height);
  return w;
}

QGroupBox *Panel(QWidget *parent, const char *name, const char *caption, QRect place,
                 const QColor *background) {
  auto *b = Place(new QGroupBox(caption, parent), name, place.x(), place.y(), place.width(), place.height());
  b->setFont(Arial(12, true));  // the caption; children get Arial 8 below
  if (background) Fill(b, *background);
  return b;
}

// Children without a font of their own would inherit the bold caption font.
void ChildrenToDefaultFont(QGroupBox *box) {
  for (QWidget *w : box->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
    if (!w->testAttribute(Qt::WA_SetFont)) w->setFont(Arial(8));
}

QLineEdit *Edit(QWidget *p, const char *name, int x, int y, int w, int maxLength,
                const char *hint = nullptr) {
  auto *e = Place(new QLineEdit(p), name, x, y, w, 21);
  if (maxLength > 0) {
    e->setMaxLength(maxLength);
    e->setProperty(TypingLimit, maxLength);
    // A longer value shown whole widens the field; as the operator shortens
    // it, typing is held to the limit again.
    QObject::connect(e, &QLineEdit::textEdited, e, [e, maxLength](const QString &t) {
      e->setMaxLength(std::max(maxLength, int(t.size())));
    });
  }
  if (hint) e->setToolTip(hint);
  return e;
}

QLineEdit *NumberField(QWidget *p, const char *name, int x, int y, int w) {
  auto *e = Edit(p, name, x, y, w, 0);
  e->setReadOnly(true);
  e->setFocusPolicy(Qt::NoFocus);
  return e;
}

QPushButton *Button(QWidget *p, const char *name, const char *caption, int x, int y, int w, int h,
                    const char *hint = nullptr) {
  auto *b = Place(new QPushButton(caption, p), name, x, y, w, h);
  if (hint) b->setToolTip(hint);
  return b;
}

QLabel *Label(QWidget *p, const char *name, const char *caption, int x, int y, int w = 60) {
  return Place(new QLabel(caption, p), name, x, y, w, 21);
}

QSpinBox *UpDown(QWidget *p, const char *name, int x, int y) {
  auto *s = Place(new QSpinBox(p), name, x, y, 44, 21);
  s->setRange(0, 0);
  return s;
}

QComboBox *List(QWidget *p, const char *name, int x, int y, int w, const char *hint = nullptr) {
  auto *c = Place(new QComboBox(p), name, x, y, w, 21);
  c->setEditable(false);
  if (hint) c->setToolTip(hint);
  return c;
}

}  // namespace

void TTFormMain::BuildPanels() {
  auto *client = new QWidget(this);
  client->setObjectName("ClientArea");
  setCentralWidget(client);
  const QColor highlight = palette().color(QPalette::Highlight);

  GroupBoxPosition = Panel(client, "GroupBoxPosition", "[ Position ]", {18, 0, 399, 137}, &SkyBlue);
  GroupBoxProcess = Panel(client, "GroupBoxProcess", "[ Process ]", {18, 136, 399, 329}, &SkyBlue);
  GroupBoxTask = Panel(client, "GroupBoxTask", "[ Task ]", {18, 464, 399, 225}, &PaleGreen);
  GroupBoxSettings = Panel(client, "GroupBoxSettings", "[ Settings ]", {424, 0, 289, 305}, &SkyBlue);
  GroupBoxReport = Panel(client, "GroupBoxReport", "[ Report ]", {424, 304, 289, 251}, nullptr);
  GroupBoxExecute = Panel(client, "GroupBoxExecute", "[ Execute Task ]", {424, 554, 289, 135}, &PaleGreen);
  GroupBoxX = Panel(client, "GroupBoxX", "", {720, 0, 280, 60}, &highlight);
  GroupBoxY = Panel(client, "GroupBoxY", "", {720, 56, 280, 60}, &highlight);
  GroupBoxZ = Panel(client, "GroupBoxZ", "", {720, 112, 280, 60}, &highlight);
  GroupBoxV = Panel(client, "GroupBoxV", "", {720, 176, 280, 60}, &highlight);
  GroupBoxManualMove =
      Panel(client, "GroupBoxManualMove", "[Manual Movement]", {720, 232, 281, 369}, &highlight);
  GroupBox1 = Panel(client, "GroupBox1", "", {720, 592, 281, 97}, nullptr);

  BuildPositionPanel();
  BuildProcessPanel();
  BuildTaskPanel();
  BuildSettingsPanel();
  ReportWindow = new TReportWindow(GroupBoxReport);
  ReportWindow->setGeometry(16, 24, 273, 227);
  BuildExecutePanel();
  BuildDisplays();
  BuildJogPad();
  BuildBottomBox();

  for (QGroupBox *b : {GroupBoxPosition, GroupBoxProcess, GroupBoxTask, GroupBoxSettings, GroupBoxReport,
                       GroupBoxExecute, GroupBoxManualMove, GroupBox1})
    ChildrenToDefaultFont(b);
  GroupBoxManualMove->setEnabled(false);
  GroupBoxX->setEnabled(false);
}

void TTFormMain::BuildPositionPanel() {
  QWidget *p = GroupBoxPosition;
  PositionNr = NumberField(p, "PositionNr", 16, 28, 40);
  PosUpDown = UpDown(p, "PosUpDown", 60, 28);
  PosNameEdit = Edit(p, "PosNameEdit", 112, 28, 116, 10, "Name Position [10 Characters]");
  PosAdd = Button(p, "PosAdd", "New", 240, 26, 70, 25, "Add new position");
  PosDel = Button(p, "PosDel", "Delete", 316, 26, 70, 25, "Delete Position");
  PosXLabel = Label(p, "PosXLabel", "X", 16, 68, 14);
  PosXEdit = Edit(p, "PosXEdit", 32, 68, 70, 7, "X Position [cm]");
  PosYLabel = Label(p, "PosYLabel", "Y", 116, 68, 14);
  PosYEdit = Edit(p, "PosYEdit", 132, 68, 70, 7, "Y Position [cm]");
  PosGetXY = Button(p, "PosGetXY", "Get XY", 240, 66, 70, 25, "Take over actual XY coordinates");
  PosGotoXY = Button(p, "PosGotoXY", "Goto XY", 316, 66, 70, 25, "Move to XY coordinates");
}

void TTFormMain::BuildProcessPanel() {
  QWidget *p = GroupBoxProcess;
  ProcessNr = NumberField(p, "ProcessNr", 16, 28, 40);
  ProcUpDown = UpDown(p, "ProcUpDown", 60, 28);
  ProcNameEdit = Edit(p, "ProcNameEdit", 112, 28, 116, 10, "Name of Process [10 Characters]");
  ProcAdd = Button(p, "ProcAdd", "New", 240, 26, 70, 25, "Add new process");
  ProcDel = Button(p, "ProcDel", "Delete", 316, 26, 70, 25, "Delete Process");

  Label(p, "PositionSelectLabel", "Select Position", 16, 64, 90);
  PositionSelect = List(p, "PositionSelect", 112, 64, 150);

  // Left column: top of the stroke and the way down; right: bottom and up.
  Label(p, "UpperPosLabel", "Z top", 16, 104);
  UpperPosEdit = Edit(p, "UpperPosEdit", 72, 104, 60, 7, "Upper position");
  GetZUpper = Button(p, "GetZUpper", "Get Z", 136, 102, 56, 25, "Take actual z-position");
  Label(p, "InSpeedLabel", "V down", 16, 140);
  InSpeedEdit = Edit(p, "InSpeedEdit", 72, 140, 60, 7, "Speed to go down");
  GetInSpeed = Button(p, "GetInSpeed", "Get V", 136, 138, 56, 25, "Take actual speed");
  Label(p, "InTimeLabel", "t lower", 16, 176);
  InTimeEdit = Edit(p, "InTimeEdit", 72, 176, 60, 7, "Wait time at lower position");

  Label(p, "LowPosLabel", "Z bottom", 204, 104);
  LowPosEdit = Edit(p, "LowPosEdit", 264, 104, 60, 7, "Lower position");
  GetZLower = Button(p, "GetZLower", "Get Z", 328, 102, 56, 25, "Take actual z-position");
  Label(p, "OutSpeedLabel", "V up", 204, 140);
  OutSpeedEdit = Edit(p, "OutSpeedEdit", 264, 140, 60, 7, "Speed to go up");
  GetOutSpeed = Button(p, "GetOutSpeed", "Get V", 328, 138, 56, 25, "Take actual speed");
  Label(p, "OutTimeLabel", "t upper", 204, 176);
  OutTimeEdit = Edit(p, "OutTimeEdit", 264, 176, 60, 7, "Wait time at upper position");

  Label(p, "ChModeLabel", "Ch Mode", 16, 220, 90);
  ChModeSelect = List(p, "ChModeSelect", 112, 220, 150, "Channel Mode");
  ChModeSelect->addItems(
      {"none", "On_DownStroke", "On_UpStroke", "On_Up_and_Down", "On_at_T_lower", "On_at_T_higher"});
  Label(p, "ChNoLabel", "Output Channel", 16, 256, 90);
  ChNoSelect = List(p, "ChNoSelect", 112, 256, 150, "Channel Number");
  ChNoSelect->addItem("none");
  Label(p, "NoTunksLabel", "Fast Dips", 16, 292, 90);
  NoTunksEdit = Edit(p, "NoTunksEdit", 112, 292, 60, 0);
}

void TTFormMain::BuildTaskPanel() {
  QWidget *p = GroupBoxTask;
  TaskNr = NumberField(p, "TaskNr", 16, 28, 40);
  TaskUpDown = UpDown(p, "TaskUpDown", 60, 28);
  TaskNameEdit = Edit(p, "TaskNameEdit", 112, 28, 116, 10, "Name of Task [10 Characters]");
  TaskAdd = Button(p, "TaskAdd", "New", 240, 26, 70, 25, "Add new Task");
  TaskDel = Button(p, "TaskDel", "Delete", 316, 26, 70, 25, "Delete Task");
  TaskEdit = Edit(p, "TaskEdit", 16, 66, 370, 0, "Task Edit Line");
  Label(p, "ProcessSelectLabel", "Select Process", 16, 104, 90);
  ProcessSelect = List(p, "ProcessSelect", 112, 104, 150);
  BraButton = Button(p, "BraButton", "(", 16, 144, 40, 30, "Add  (");
  PlusButton = Button(p, "PlusButton", "+", 62, 144, 40, 30, "Add  +");
  KetButton = Button(p, "KetButton", ")", 108, 144, 40, 30, "Add   )");
  StarButton = Button(p, "StarButton", "*", 154, 144, 40, 30, "Add  * (Enter number in Task Edit Line)");
  CheckSyntax = Button(p, "CheckSyntax", "Check", 300, 144, 86, 30, "Check Syntax of Task");
}

void TTFormMain::BuildSettingsPanel() {
  QWidget *p = GroupBoxSettings;
  HomeXLabel = Label(p, "HomeXLabel", "X", 16, 36, 14);
  HomeXEdit = Edit(p, "HomeXEdit", 32, 36, 70, 7, "X Position [cm]");
  HomeYLabel = Label(p, "HomeYLabel", "Y", 16, 72, 14);
  HomeYEdit = Edit(p, "HomeYEdit", 32, 72, 70, 7, "Y Position [cm]");
  HomeZLabel = Label(p, "HomeZLabel", "Z", 16, 108, 14);
  HomeZEdit = Edit(p, "HomeZEdit", 32, 108, 70, 7);
  GetXYZ = Button(p, "GetXYZ", "Home Position", 128, 68, 140, 30,
                  "Take over actual XYZ coordinates as Home position");
  MasterZEdit = Edit(p, "MasterZEdit", 32, 168, 70, 7);
  GetMasterZ =
      Button(p, "GetMasterZ", "Z standard", 128, 164, 140, 30, "Take  actual z-position as Z standard");
  MasterSpeedEdit = Edit(p, "MasterSpeedEdit", 32, 224, 70, 7);
  GetMasterSpeed =
      Button(p, "GetMasterSpeed", "V standard", 128, 220, 140, 30, "Take actual speed as V standard");
}

void TTFormMain::BuildExecutePanel() {
  QWidget *p = GroupBoxExecute;
  TaskStart = Button(p, "TaskStart", "Start", 16, 28, 120, 60, "Start Task ");
  TaskStart->setFont(Arial(18, true));
  TaskStop = Button(p, "TaskStop", "STOP", 152, 28, 120, 60, "Stop Task Execution");
  TaskStop->setFont(Arial(18, true));
  TextColour(TaskStop, Qt::red);
  TaskStop->setEnabled(false);
  WaitLabel = Label(p, "WaitLabel", "waiting:", 16, 100, 52);
  WaitBar = Place(new QProgressBar(p), "WaitBar", 72, 102, 200, 17);
  WaitBar->setTextVisible(false);
  WaitLabel->hide();
  WaitBar->hide();
}

void TTFormMain::BuildDisplays() {
  struct TDisplay {
    QGroupBox *Box;
    const char *Axis, *AxisName, *ValueName, *Initial, *UnitName, *Unit, *Hint;
    TClickLabel **AxisLabel;
    QLabel **Value, **UnitLabel;
  };
  const TDisplay displays[] = {
      {GroupBoxX, "X: ", "XLabel", "ShowXPos", "XX.XX", "XUnit", "cm", "X-Position", &XLabel, &ShowXPos,
       &XUnit},
      {GroupBoxY, "Y: ", "YLabel", "ShowYPos", "YY.YY", "YUnit", "cm", "Y-Position", &YLabel, &ShowYPos,
       &YUnit},
      {GroupBoxZ, "Z: ", "ZLabel", "ShowZPos", "ZZ.ZZ", "ZUnit", "cm", "Z-Position", &ZLabel, &ShowZPos,
       &ZUnit},
      {GroupBoxV, "V: ", "VLabel", "ShowV", "VV.VVVV", "VUnit", "cm/s", "Speed", &VLabel, &ShowV, &VUnit},
  };
  for (const TDisplay &d : displays) {
    const bool speed = d.Box == GroupBoxV;
    const QFont font = Arial(speed ? 20 : 26, true);
    auto style = [&](QLabel *l, Qt::Alignment align) {
      l->setFont(font);
      l->setAlignment(align | Qt::AlignVCenter);
      Fill(l, Teal);
      TextColour(l, Qt::white);
    };
    *d.AxisLabel = Place(new TClickLabel(d.Axis, d.Box), d.AxisName, 4, 8, 52, 48);
    style(*d.AxisLabel, Qt::AlignLeft);
    if (!speed) (*d.AxisLabel)->setToolTip("Doble click to switch motor off");
    const int valueWidth = speed ? 136 : 160;  // "cm/s" needs the room
    *d.Value = Place(new QLabel(d.Initial, d.Box), d.ValueName, 56, 8, valueWidth, 48);
    style(*d.Value, speed ? Qt::AlignHCenter : Qt::AlignRight);
    (*d.Value)->setToolTip(d.Hint);
    *d.UnitLabel = Place(new QLabel(d.Unit, d.Box), d.UnitName, 56 + valueWidth, 8, 220 - valueWidth, 48);
    style(*d.UnitLabel, Qt::AlignLeft);
  }
}

void TTFormMain::BuildJogPad() {
  QWidget *p = GroupBoxManualMove;
  const int col[3] = {12, 97, 199};
  const int row[4] = {24, 108, 192, 276};
  struct TJog {
    QPushButton **Button;
    const char *Name, *Caption, *Hint;
    int Row, Col, FontPixels;
  };
  const TJog jogs[] = {
      {&HomePos, "HomePos", "Home", "Go to Home Position", 0, 0, 21},
      {&YPlus, "YPlus", "+ Y", "Move Back", 0, 1, 25},
      {&ZMinus, "ZMinus", "- Z", "Move Up", 0, 2, 25},
      {&XMinus, "XMinus", "- X", "Move Right", 1, 0, 25},
      {&ManualStop, "ManualStop", "STOP", nullptr, 1, 1, 25},
      {&XPlus, "XPlus", "+ X", "Move Left", 1, 2, 25},
      {&ReferencePos, "ReferencePos", "Ref", "Reference Position", 2, 0, 24},
      {&YMinus, "YMinus", "- Y", "Move Front", 2, 1, 25},
      {&ZPlus, "ZPlus", "+ Z", "Move Down", 2, 2, 25},
      {&VMinus, "VMinus", "V-", "Lower Speed", 3, 0, 25},
      {&VStandard, "VStandard", "V0", "Take Standard Speed", 3, 1, 25},
      {&VPlus, "VPlus", "V+", "Increase Speed", 3, 2, 25},
  };
  for (const TJog &j : jogs) {
    const int width = j.Col == 1 && j.Row == 1 ? 87 : 70;
    const int left = j.Col == 1 && j.Row != 1 ? col[1] + 8 : col[j.Col];
    *j.Button = Button(p, j.Name, j.Caption, left, row[j.Row], width, 70, j.Hint);
    (*j.Button)->setFont(ArialPixels(j.FontPixels));
  }
  TextColour(ManualStop, Qt::red);
}

void TTFormMain::BuildBottomBox() {
  QWidget *p = GroupBox1;
  ProgressBar1 = Place(new QProgressBar(p), "ProgressBar1", 16, 16, 249, 17);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->hide();
  ConnectButton = Button(p, "ConnectButton", "Connect", 8, 40, 129, 49, "Connect to VERI");
  ConnectButton->setFont(Arial(14, true));
  TextColour(ConnectButton, Qt::red);
  BitBtn1 = Button(p, "BitBtn1", "E&xit", 144, 40, 129, 49, "Exit Program");
  BitBtn1->setFont(Arial(14, true));
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
}

void TTFormMain::BuildStatusBar() {
  QStatusBar *bar = statusBar();
  bar->setObjectName("StatusBar1");
  const int widths[3] = {300, 50, 50};
  for (int i = 0; i < 3; ++i) {
    auto *panel = new QLabel(bar);
    panel->setObjectName(QString("StatusPanel%1").arg(i));
    panel->setFixedWidth(widths[i]);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addWidget(panel);
  }
}
