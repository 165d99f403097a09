#include "serial/SerialNGBasicDLG.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "base/Host.h"
#include "base/Profile.h"
#include "serial/SerialDevices.h"
#include "serial/SerialPortNG.h"

TSerialNGBasicDLG *SerialNGBasicDLG = nullptr;

namespace {
const char *const Section = "COMPortSettings";
const int32_t FlowCodes[] = {fcNone, fcXOnXOff, fcRtsCts, fcDsrDtr};

QComboBox *MakeList(QFormLayout *form, const char *label, const QStringList &items) {
  auto *cb = new QComboBox;
  cb->setEditable(false);  // only the items can be chosen
  cb->addItems(items);
  form->addRow(QString::fromUtf8(label), cb);
  return cb;
}

void SelectText(QComboBox *cb, const std::string &text, const char *fallback) {
  int i = cb->findText(QString::fromStdString(text), Qt::MatchExactly);
  if (i < 0) i = cb->findText(QString::fromUtf8(fallback), Qt::MatchExactly);
  cb->setCurrentIndex(i);
}
}  // namespace

TSerialNGBasicDLG::TSerialNGBasicDLG(QWidget *parent) : QDialog(parent) {
  setWindowTitle("Serial Basic Settings");
  auto *form = new QFormLayout;
  CBPort = MakeList(form, "&Port", {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"});
  CBPort->setEditable(true);  // a device path may be typed in
  CBPort->setInsertPolicy(QComboBox::NoInsert);
  CBBaud = MakeList(form, "&Baudrate",
                    {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
                     "57600", "115000", "128000", "256000"});
  CBData = MakeList(form, "&Databits", {"4 Bit", "5 Bit", "6 Bit", "7 Bit", "8 Bit"});
  CBStop = MakeList(form, "&Stop", {"1 Bit (*)", "1,5 Bits", "2 Bits"});
  CBParity = MakeList(form, "Pari&ty", {"None (*)", "Odd", "Even", "Mark", "Space"});
  CBFlow = MakeList(form, "&Flowcontrol", {"None (*)", "XOn-XOff", "RTS-CTS", "DSR-DTR"});
  CBFastReplies = MakeList(form, "Replies end at the line end", {"Off", "On", "Automatic"});
  CheckLineButton = new QPushButton("Check line");
  form->addRow(CheckLineButton);
  CheckLineResult = new QLabel;
  CheckLineResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
  CheckLineResult->hide();
  form->addRow(CheckLineResult);
  connect(CheckLineButton, &QPushButton::clicked, this, [this] {
    if (!OnCheckLine) return;
    CheckLineResult->setText(QString::fromStdString(OnCheckLine()));
    CheckLineResult->show();
  });
  UseSimulator = new QPushButton("Use the simulated robot");
  UseSimulator->setAutoDefault(false);
  form->addRow(UseSimulator);
  auto *buttons = new QDialogButtonBox;
  QPushButton *ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // fixed border
  if (QScreen *screen = QGuiApplication::primaryScreen()) {
    adjustSize();
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TSerialNGBasicDLG::LoadPortSettings(const TSerialPortNG &port) {
  // A device given by path in the settings file stays choosable, so OK
  // does not silently move the line to COM1.
  // After COM1..COM8 the devices there are now (an adapter plugged in since
  // the last opening shows up), each once.
  while (CBPort->count() > 8) CBPort->removeItem(8);
  std::vector<std::string> extra;
  for (const std::string &d : SerialDevices())
    if (d.size() != 10 || d.rfind("/dev/ttyS", 0) != 0 || d[9] > '7') extra.push_back(d);  // not COM1..8
  if (!port.CommPort().empty() && port.CommPort()[0] == '/') extra.push_back(port.CommPort());
  for (const std::string &d : extra)
    if (CBPort->findText(QString::fromStdString(d), Qt::MatchExactly) < 0)
      CBPort->addItem(QString::fromStdString(d));
  SelectText(CBPort, port.CommPort(), "COM1");
  SelectText(CBBaud, std::to_string(port.BaudRate()), "19200");
  SelectText(CBData, std::to_string(port.DataBits()) + " Bit", "8 Bit");
  CBStop->setCurrentIndex(port.StopBits() < CBStop->count() ? port.StopBits() : 0);
  CBParity->setCurrentIndex(port.ParityType() < CBParity->count() ? port.ParityType() : 0);
  int flow = 0;
  for (int i = 0; i < 4; ++i)
    if (port.FlowControl() == FlowCodes[i]) flow = i;
  CBFlow->setCurrentIndex(flow);
  CBFastReplies->setCurrentIndex(int(port.FastReplies()));
  CheckLineResult->hide();
}

void TSerialNGBasicDLG::ApplyPortSettings(TSerialPortNG &port) {
  port.SetCommPort(CBPort->currentText().toStdString());
  bool ok = false;
  uint32_t baud = CBBaud->currentText().toUInt(&ok, 10);
  port.SetBaudRate(ok ? baud : 9600);
  QString data = CBData->currentText();
  int bits = data.isEmpty() ? -1 : data.at(0).digitValue();
  port.SetDataBits(bits >= 4 && bits <= 8 ? uint8_t(bits) : 8);
  port.SetStopBits(uint8_t(std::max(0, CBStop->currentIndex())));
  port.SetParityType(uint8_t(std::max(0, CBParity->currentIndex())));
  int flow = CBFlow->currentIndex();
  port.SetFlowControl(flow >= 0 && flow < 4 ? FlowCodes[flow] : fcNone);
  port.SetFastReplies(TFastReplies(std::max(0, CBFastReplies->currentIndex())));
  port.SetActive(true);
}

TSerialNGBasicDLG *CreateSerialNGBasicDLG(QWidget *parent) {
  if (!SerialNGBasicDLG) SerialNGBasicDLG = new TSerialNGBasicDLG(parent);
  return SerialNGBasicDLG;
}

bool ChangeSerialSettings(TSerialNGBasicDLG &dlg, TSerialPortNG &port, const std::string &iniFile) {
  dlg.LoadPortSettings(port);
  if (dlg.exec() != QDialog::Accepted) return false;
  dlg.ApplyPortSettings(port);
  ReportLine("Replies end at the line end: " + ReplyRuleText(port));
  // What the port holds now, so the file says what the line runs with.
  ProfileWriteString(iniFile, Section, "Port", port.CommPort());
  ProfileWriteInt(iniFile, Section, "Baud", int32_t(port.BaudRate()));
  ProfileWriteInt(iniFile, Section, "DataBits", port.DataBits());
  ProfileWriteInt(iniFile, Section, "StopBits", port.StopBits());
  ProfileWriteInt(iniFile, Section, "Parity", port.ParityType());
  ProfileWriteInt(iniFile, Section, "Control", port.FlowControl());
  ProfileWriteInt(iniFile, Section, "FastReplies", int32_t(port.FastReplies()));
  return true;
}
