#include "app/RemoteAccess.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPushButton>
#include <QSpinBox>
#include <stdexcept>

#include "app/FormMain.h"
#include "machine/Startup.h"

TRemoteAccess::TRemoteAccess(TTFormMain &form) : Next(Host().Report) {
  Watch.Connected = [&form] { return form.IsConnected(); };
  Host().Report = this;
  TRemoteSettings s = LoadRemoteSettings(SettingsIniFile);
  // The file holds the tokens: kept its owner's alone, also when an older
  // version or a hand made it.
  if (s.On()) KeepSettingsPrivate(SettingsIniFile);
  // Turned on by hand in the file: the tokens are made here and kept.
  if (s.On() && (s.Token.empty() || s.ReadToken.empty())) {
    if (s.Token.empty()) s.Token = NewRemoteToken();
    if (s.ReadToken.empty()) s.ReadToken = NewRemoteToken();
    try {
      SaveRemoteSettings(SettingsIniFile, s);
    } catch (const std::runtime_error &e) {
      ReportLine(std::string("*** ") + e.what());
    }
  }
  Apply(s);
}

TRemoteAccess::~TRemoteAccess() {
  Server.reset();
  Notifier.reset();
  if (Host().Report == this) Host().Report = Next;
}

void TRemoteAccess::AppendLine(const std::string &line) {
  if (Next) Next->AppendLine(line);
  Watch.NoteLine(line);
  if (line.compare(0, 3, "***") == 0) {
    TRunEvent e;
    e.Kind = TRunEventKind::LineFault;
    e.Text = line;
    SendRunEvent(e);
  }
}

void TRemoteAccess::Apply(const TRemoteSettings &s) {
  const bool was = Server != nullptr;
  Server.reset();
  Notifier.reset();
  if (!s.On() || s.Token.empty() || s.ReadToken.empty()) {
    if (was) ReportLine("Remote access off");
    return;
  }
  Server = std::make_unique<TRemoteServer>(Watch, s);
  std::string error;
  if (!Server->Start(error)) {
    Server.reset();
    ReportLine("*** Remote access: port " + std::to_string(s.Port) + " not opened: " + error);
    return;
  }
  if (!s.Notify.empty()) Notifier = std::make_unique<TNotifier>(s.Notify);
  ReportLine(std::string("Remote access on port ") + std::to_string(s.Port) +
             (s.Lab ? " (lab network, token needed)" : " (this computer only)"));
}

std::string TRemoteAccess::Addresses(const TRemoteSettings &s) {
  const std::string port = std::to_string(s.Port);
  if (!s.Lab) return "http://127.0.0.1:" + port + "/";
  // The server listens on every IPv4 and IPv6 address; these are the ones a
  // browser can open (a link-local IPv6 address needs a zone it cannot take).
  std::string out;
  const std::string link = ":" + port + "/?token=" + s.ReadToken + "\n";
  for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
    if (a.isLoopback() || a.isLinkLocal()) continue;
    if (a.protocol() == QAbstractSocket::IPv4Protocol) out += "http://" + a.toString().toStdString() + link;
    if (a.protocol() == QAbstractSocket::IPv6Protocol) out += "http://[" + a.toString().toStdString() + "]" + link;
  }
  return out.empty() ? "http://<this computer>" + link.substr(0, link.size() - 1) : out.substr(0, out.size() - 1);
}

void TRemoteAccess::TestNotice(const std::vector<std::string> &urls) {
  if (urls.empty()) {
    ReportLine("No notice URL to test");
    return;
  }
  Tester = std::make_unique<TNotifier>(urls);
  Tester->Test();
}

void TRemoteAccess::ShowDialog(QWidget *parent) {
  TRemoteSettings s = LoadRemoteSettings(SettingsIniFile);
  QDialog dlg(parent);
  dlg.setObjectName("RemoteAccessDialog");
  dlg.setWindowTitle("Remote access");
  auto *form = new QFormLayout(&dlg);
  auto *port = new QSpinBox(&dlg);
  port->setObjectName("Port");
  port->setRange(0, 65535);
  port->setSpecialValueText("off");
  port->setValue(s.Port);
  auto *network = new QComboBox(&dlg);
  network->setObjectName("Network");
  network->addItems({"local (this computer only)", "lab (every network, token needed)"});
  network->setCurrentIndex(s.Lab ? 1 : 0);
  auto *token = new QLineEdit(QString::fromStdString(s.Token), &dlg);
  token->setObjectName("Token");
  token->setReadOnly(true);
  auto *renew = new QPushButton("New control token", &dlg);
  renew->setObjectName("NewToken");
  auto *readToken = new QLineEdit(QString::fromStdString(s.ReadToken), &dlg);
  readToken->setObjectName("ReadToken");
  readToken->setReadOnly(true);
  auto *renewRead = new QPushButton("New read token", &dlg);
  renewRead->setObjectName("NewReadToken");
  auto *test = new QPushButton("Send a test notice", &dlg);
  test->setObjectName("TestNotice");
  auto *notify = new QLineEdit(&dlg);
  notify->setObjectName("Notify");
  std::string urls;
  for (const std::string &u : s.Notify) urls += (urls.empty() ? "" : " ") + u;
  notify->setText(QString::fromStdString(urls));
  notify->setPlaceholderText("URLs to POST run ends and questions to, blank-separated");
  auto *address = new QLabel(&dlg);
  address->setObjectName("Address");
  address->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow("Port (0: off)", port);
  form->addRow("Network", network);
  form->addRow("Control token (STOP)", token);
  form->addRow("", renew);
  form->addRow("Read token (the link)", readToken);
  form->addRow("", renewRead);
  form->addRow("Notify", notify);
  form->addRow("", test);
  form->addRow("Open", address);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  form->addRow(buttons);
  auto read = [&] {
    s.Port = port->value();
    s.Lab = network->currentIndex() == 1;
    // The tokens are made when remote access is first turned on.
    if (s.On() && s.Token.empty()) s.Token = NewRemoteToken();
    if (s.On() && s.ReadToken.empty()) s.ReadToken = NewRemoteToken();
    token->setText(QString::fromStdString(s.Token));
    readToken->setText(QString::fromStdString(s.ReadToken));
    s.Notify.clear();
    for (const QString &u : notify->text().split(' ', Qt::SkipEmptyParts))
      s.Notify.push_back(u.toStdString());
    address->setText(s.On() ? QString::fromStdString(Addresses(s)) : "(off)");
  };
  QObject::connect(port, &QSpinBox::valueChanged, &dlg, read);
  QObject::connect(network, &QComboBox::currentIndexChanged, &dlg, read);
  QObject::connect(renew, &QPushButton::clicked, &dlg, [&] {
    s.Token = NewRemoteToken();
    read();
  });
  QObject::connect(renewRead, &QPushButton::clicked, &dlg, [&] {
    s.ReadToken = NewRemoteToken();
    read();
  });
  QObject::connect(test, &QPushButton::clicked, &dlg, [&] {
    read();
    TestNotice(s.Notify);
  });
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  read();
  if (dlg.exec() != QDialog::Accepted) return;
  read();
  try {
    SaveRemoteSettings(SettingsIniFile, s);
  } catch (const std::runtime_error &e) {
    ReportLine(std::string("*** ") + e.what());
  }
  Apply(s);
}
