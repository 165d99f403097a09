#include "app/ServiceDialogs.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>

#include "base/Handler.h"
#include "base/Machine.h"
#include "base/OpState.h"
#include "base/Convert.h"
#include "veri/Outputs.h"

namespace {
// Leaving a field is a focus-out; the dialog's own OK press counts too.
class TExitEdit : public QLineEdit {
public:
  std::function<void()> OnExit;
  using QLineEdit::QLineEdit;

protected:
  void focusOutEvent(QFocusEvent *e) override {
    QLineEdit::focusOutEvent(e);
    if (OnExit) RunHandler(OnExit);
  }
};

// A service exchange pumps events: meanwhile the machine counts as busy, so
// the window's controls and a remote start wait and a second press is
// refused. Nothing is done when something else is under way.
void WhileIdle(const std::function<void()> &work) {
  TBusyGuard busy(Moving);
  if (busy.Entered()) work();
}

QPushButton *Button(QWidget *parent, const char *name, const QString &text, const QRect &r) {
  auto *b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setGeometry(r);
  return b;
}
}  // namespace

TSERSUtilities::TSERSUtilities(QWidget *parent) : QDialog(parent) {
  setObjectName("SERSUtilities");
  setWindowTitle("VERI Utilities");
  resize(434, 320);
  setFont(QFont("Arial", 8));

  AxisSelector = new QGroupBox("Axis", this);
  AxisSelector->setObjectName("AxisSelector");
  AxisSelector->setToolTip("Select active axis");
  AxisSelector->setGeometry(16, 16, 113, 105);
  AxisButtons = new QButtonGroup(this);
  const char *axes[] = {"X", "Y", "Z"};
  for (int i = 0; i < 3; ++i) {
    auto *r = new QRadioButton(axes[i], AxisSelector);
    r->setGeometry(16, 20 + 26 * i, 80, 20);
    AxisButtons->addButton(r, i + 1);
  }
  AxisButtons->button(1)->setChecked(true);

  GroupBox1 = new QGroupBox("Manual Motor Movement", this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setStyleSheet("QGroupBox { color: red; }");
  GroupBox1->setGeometry(144, 16, 273, 105);
  LeftButn = Button(GroupBox1, "LeftButn", "back / up", QRect(16, 40, 113, 33));
  RightBtn = Button(GroupBox1, "RightBtn", "fwd /down", QRect(144, 40, 113, 33));

  Upload = Button(this, "Upload", "Upload pgm", QRect(16, 144, 113, 33));
  Upload->setToolTip("upload program code to VERI");
  UploadBar1 = new QProgressBar(this);
  UploadBar1->setObjectName("UploadBar1");
  UploadBar1->setGeometry(144, 152, 273, 17);
  UploadBar1->setTextVisible(false);
  UploadBar1->hide();

  OKBtn = Button(this, "OKBtn", "Quit", QRect(176, 272, 81, 33));
  OKBtn->setDefault(true);

  connect(LeftButn, &QPushButton::clicked, this, [this] { RunHandler([this] { LeftButnClick(); }); });
  connect(RightBtn, &QPushButton::clicked, this, [this] { RunHandler([this] { RightBtnClick(); }); });
  connect(Upload, &QPushButton::clicked, this, [this] { RunHandler([this] { UploadClick(); }); });
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
}

uint8_t TSERSUtilities::SelectedAddress() const {
  const int id = AxisButtons->checkedId();
  return static_cast<uint8_t>(id >= 1 && id <= 3 ? id : 1);
}

void TSERSUtilities::LeftButnClick() {
  WhileIdle([this] { ManualLimitSwitchMove(SelectedAddress(), 1); });
}
void TSERSUtilities::RightBtnClick() {
  WhileIdle([this] { ManualLimitSwitchMove(SelectedAddress(), 2); });
}
void TSERSUtilities::UploadClick() {
  WhileIdle([this] { UploadProgram(SelectedAddress(), *this); });
}

void TSERSUtilities::ShowBar(bool visible) { UploadBar1->setVisible(visible); }
void TSERSUtilities::SetBar(int position, int maximum) {
  UploadBar1->setRange(0, maximum);
  UploadBar1->setValue(position);
}
void TSERSUtilities::StepBar() { UploadBar1->setValue(UploadBar1->value() + 1); }

TSERSIOPanel::TSERSIOPanel(QWidget *parent) : QDialog(parent) {
  setObjectName("SERSIOPanel");
  setWindowTitle("DigitalOutputTest");
  setFixedSize(369, 161);
  setFont(QFont("Arial", 8));

  auto *group = new QGroupBox("Output Channels", this);
  group->setGeometry(8, 8, 353, 97);
  const struct {
    const char *Text;
    int Left;
  } heads[] = {{"Nr", 16}, {"Identifier", 80}, {"Axis", 200}, {"Pin", 240}};
  for (const auto &h : heads) (new QLabel(h.Text, group))->setGeometry(h.Left, 20, 60, 16);

  DOUpDown = new QSpinBox(group);
  DOUpDown->setObjectName("DOUpDown");
  DOUpDown->setGeometry(16, 40, 57, 21);
  // Typing is off: the number field only shows the spinner's position.
  if (auto *field = DOUpDown->findChild<QLineEdit *>()) field->setReadOnly(true);
  auto *name = new TExitEdit(group);
  name->OnExit = [this] { DONameExit(); };
  DOName = name;
  DOName->setObjectName("DOName");
  DOName->setGeometry(80, 40, 113, 21);
  DOAxis = new QLineEdit(group);
  DOAxis->setObjectName("DOAxis");
  DOPin = new QLineEdit(group);
  DOPin->setObjectName("DOPin");
  DOAxis->setGeometry(200, 40, 33, 21);
  DOPin->setGeometry(240, 40, 33, 21);
  for (QLineEdit *e : {DOAxis, DOPin}) {
    e->setReadOnly(true);
    e->setEnabled(false);
  }
  Button1 = Button(group, "Button1", "On/Off", QRect(280, 38, 65, 25));
  DOState = new QLineEdit(group);
  DOState->setObjectName("DOState");
  DOState->setReadOnly(true);
  DOState->setGeometry(280, 68, 65, 21);

  OKBtn = Button(this, "OKBtn", "OK", QRect(144, 120, 81, 29));
  OKBtn->setDefault(true);

  DOUpDown->setRange(1, std::max(1, static_cast<int>(DigOutCount)));
  connect(DOUpDown, qOverload<int>(&QSpinBox::valueChanged), this,
          [this](int n) { RunHandler([this, n] { ShowChannel(n); }); });
  connect(Button1, &QPushButton::clicked, this, [this] { RunHandler([this] { Button1Click(); }); });
  connect(OKBtn, &QPushButton::clicked, this, [this] {
    // A name typed just before OK is kept, as on leaving the field.
    if (DOName->isModified()) RunHandler([this] { DONameExit(); });
    accept();
  });
  ShowChannel(1);

  if (QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

int TSERSIOPanel::Channel() const { return DOUpDown->value(); }

void TSERSIOPanel::ShowChannel(int n) {
  // No channels configured: nothing to show, nothing to switch.
  const bool any = n >= 1 && n <= DigOutCount && n <= DigOutMax;
  Button1->setEnabled(any);
  DOName->setEnabled(any);
  if (!any) return;
  const TDigOutEntry &e = DigOutTable[n];
  DOAxis->setText(QString::number(e.Address));
  DOPin->setText(QString::number(e.Pin));
  DOName->setText(QString::fromStdString(e.Name));
  DOName->setModified(false);
  DOState->setText(e.State == 0 ? "Off" : "On");
}

void TSERSIOPanel::DONameExit() {
  const int n = Channel();
  if (n < 1 || n > DigOutCount || n > DigOutMax) return;
  DigOutTable[n].Name = CutText(DOName->text().toStdString(), 16);
  DOName->setText(QString::fromStdString(DigOutTable[n].Name));
  DOName->setModified(false);
  if (OnNameChanged) OnNameChanged();
}

void TSERSIOPanel::Button1Click() {
  const int n = Channel();
  if (n < 1 || n > DigOutCount || n > DigOutMax) return;
  WhileIdle([n] { VERIToggleOut(n); });
  DOState->setText(DigOutTable[n].State == 0 ? "Off" : "On");
}
