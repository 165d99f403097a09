#include "app/SilaSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <stdexcept>

#include "app/FormMain.h"
#include "base/Host.h"
#include "machine/Startup.h"
#include "remote/RemoteSettings.h"

#ifndef KV_VERSION
#define KV_VERSION "0.0"
#endif

TSilaAccess::TSilaAccess(TTFormMain &form) : Form(form) { Apply(); }

TSilaAccess::~TSilaAccess() {
  if (Dialog) delete Dialog;
  if (Running) ReportLine("Lab automation: server ended");
  Announcer.reset();
  Running.reset();
}

void TSilaAccess::Apply() {
  const bool was = Running != nullptr;
  Announcer.reset();
  Running.reset();
  const TSilaSettings s = LoadSilaSettings(SettingsIniFile);
  if (!s.On()) {
    if (was) ReportLine("Lab automation: off");
    return;
  }
  TRemoteSettings remote = LoadRemoteSettings(SettingsIniFile);
  KeepSettingsPrivate(SettingsIniFile);
  try {
    // The control token is that of remote access; made here when none is kept yet.
    if (remote.Token.empty() || remote.ReadToken.empty()) {
      if (remote.Token.empty()) remote.Token = NewRemoteToken();
      if (remote.ReadToken.empty()) remote.ReadToken = NewRemoteToken();
      SaveRemoteSettings(SettingsIniFile, remote);
    }
  } catch (const std::runtime_error &e) {
    ReportLine(std::string("*** ") + e.what());
  }
  TSilaServer::TConfig c;
  c.Sila = s;
  c.Remote = remote;
  c.Uuid = SilaServerUuid(SettingsIniFile);
  c.Version = KV_VERSION;
  std::string error;
  if (!s.Plain()) {
    TSilaCert cert;
    if (!LoadOrMakeSilaCert(".", c.Uuid, cert, error)) {
      ReportLine("*** Lab automation: not started: " + error);
      return;
    }
    c.CertPem = cert.CertPem;
    c.KeyPem = cert.KeyPem;
    CertFingerprint = cert.Fingerprint;
  }
  TSilaServer::THooks h;
  TTFormMain *form = &Form;
  h.Connected = [form] { return form->IsConnected(); };
  h.WhyNotStart = [] {
    return QApplication::activeModalWidget() ? std::string("A dialog is open at the machine.") : std::string();
  };
  h.Run = [form](uint8_t task, const std::string &who) {
    form->StartTaskFromOutside(task, "lab automation (" + who + ")");
  };
  h.KeepName = [](const std::string &name) {
    TSilaSettings k = LoadSilaSettings(SettingsIniFile);
    k.ServerName = name;
    try {
      SaveSilaSettings(SettingsIniFile, k);
    } catch (const std::runtime_error &e) {
      ReportLine(std::string("*** ") + e.what());
    }
  };
  Running = std::make_unique<TSilaServer>(c, h);
  if (!Running->Start(error)) {
    Running.reset();
    ReportLine("*** Lab automation: port " + std::to_string(s.Port) + " not opened: " + error);
    return;
  }
  ReportLine("Lab automation: SiLA 2 server on port " + std::to_string(Running->Port()) +
             (s.Lab ? " (lab network" : " (this computer only") + (s.Plain() ? ", no TLS)" : ", TLS)") +
             (remote.AllowRuns ? ", task runs allowed" : ", task runs not allowed"));
  if (!s.Lab) return;
  // Schedulers on the lab network find the server by DNS-SD.
  Announcer = std::make_unique<TSilaAnnouncer>(c.Uuid, Running->Port(), s.ServerName,
                                               SilaServerDescription, c.CertPem);
  ReportLine(Announcer->Error().empty() ? "Lab automation: announced as " + c.Uuid + "._sila._tcp"
                                        : "Lab automation: not announced on the network (" + Announcer->Error() + ")");
}

void TSilaAccess::ShowDialog(QWidget *parent) {
  if (Dialog) {
    Dialog->raise();
    Dialog->activateWindow();
    return;
  }
  const TSilaSettings s = LoadSilaSettings(SettingsIniFile);
  const TRemoteSettings r = LoadRemoteSettings(SettingsIniFile);
  auto *dlg = new QDialog(parent);
  Dialog = dlg;
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setObjectName("LabAutomationDialog");
  dlg->setWindowTitle("Lab automation (SiLA 2)");
  auto *form = new QFormLayout(dlg);
  auto *port = new QSpinBox(dlg);
  port->setObjectName("Port");
  port->setRange(0, 65535);
  port->setSpecialValueText("off");
  port->setValue(s.Port);
  auto *network = new QComboBox(dlg);
  network->setObjectName("Network");
  network->addItems({"local (this computer only)", "lab (every network, read token needed)"});
  network->setCurrentIndex(s.Lab ? 1 : 0);
  auto *insecure = new QCheckBox("Without TLS (this computer only)", dlg);
  insecure->setObjectName("Insecure");
  insecure->setChecked(s.Insecure);
  auto *name = new QLineEdit(QString::fromStdString(s.ServerName), dlg);
  name->setObjectName("ServerName");
  name->setMaxLength(255);
  auto *runs = new QCheckBox("Schedulers may run tasks (with the control token)", dlg);
  runs->setObjectName("AllowRuns");
  runs->setChecked(r.AllowRuns);
  auto *print = new QLabel(CertFingerprint.empty() ? "(made when the server first starts with TLS)"
                                                   : QString::fromStdString(CertFingerprint),
                           dlg);
  print->setObjectName("Fingerprint");
  print->setWordWrap(true);
  print->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow("Port (0: off)", port);
  form->addRow("Network", network);
  form->addRow("", insecure);
  form->addRow("Server name", name);
  form->addRow("", runs);
  form->addRow("Certificate SHA-256", print);
  form->addRow(new QLabel("The control and read tokens are those of Settings / Remote access.", dlg));
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dlg);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::close);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dlg, [=] {
    TSilaSettings n = LoadSilaSettings(SettingsIniFile);
    n.Port = port->value();
    n.Lab = network->currentIndex() == 1;
    n.Insecure = insecure->isChecked();
    n.ServerName = name->text().trimmed().isEmpty() ? n.ServerName : name->text().trimmed().toStdString();
    TRemoteSettings rr = LoadRemoteSettings(SettingsIniFile);
    rr.AllowRuns = runs->isChecked();
    try {
      SaveSilaSettings(SettingsIniFile, n);
      SaveRemoteSettings(SettingsIniFile, rr);
    } catch (const std::runtime_error &e) {
      ReportLine(std::string("*** ") + e.what());
    }
    dlg->close();
    Apply();
  });
  dlg->show();
}
