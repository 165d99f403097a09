#include "app/SimulatedRobot.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>

#include "app/SerialNGBasicDLG.h"

TSimulatedRobot::TSimulatedRobot(QObject *parent) : QObject(parent) {}

TSimulatedRobot::~TSimulatedRobot() { Stop(); }

QString TSimulatedRobot::LinkPath() {
  // $XDG_RUNTIME_DIR (private to the user), or Qt's per-user stand-in.
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath() + "/kavetra-" + QString::number(::getuid());
  return QDir(dir).filePath("kavetra-sim.pty");
}

QString TSimulatedRobot::Program() {
  const QDir here(QCoreApplication::applicationDirPath());
  for (const char *name : {"kavetra-sim", "veri-sim"}) {
    const QFileInfo f(here.filePath(name));
    if (f.isFile() && f.isExecutable()) return f.filePath();
  }
  return QStandardPaths::findExecutable("kavetra-sim");
}

bool TSimulatedRobot::Running() const { return Sim && Sim->state() != QProcess::NotRunning; }

bool TSimulatedRobot::Start(QString &error) {
  const QString link = LinkPath();
  if (Running() && QFileInfo::exists(link)) return true;
  Stop();
  const QString program = Program();
  if (program.isEmpty()) {
    error = "the simulator kavetra-sim is not installed";
    return false;
  }
  QDir().mkpath(QFileInfo(link).path());
  // A link left by a simulator that is gone would lead the port nowhere.
  if (QFileInfo(link).isSymLink()) QFile::remove(link);
  Sim = new QProcess(this);
  Sim->setProgram(program);
  Sim->setArguments({"--link", link});
  Sim->setStandardOutputFile(QProcess::nullDevice());
  Sim->setStandardErrorFile(QProcess::nullDevice());
  Sim->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  Sim->start();
  if (!Sim->waitForStarted(3000)) {
    error = program + " does not start: " + Sim->errorString();
    Stop();
    return false;
  }
  // The link appears within milliseconds; the window waits that long.
  QDeadlineTimer deadline(5000);
  while (!QFileInfo::exists(link) && Running() && !deadline.hasExpired()) QThread::msleep(10);
  if (!QFileInfo::exists(link)) {
    error = program + " made no pseudo-terminal at " + link;
    Stop();
    return false;
  }
  return true;
}

void TSimulatedRobot::Stop() {
  if (!Sim) return;
  if (Sim->state() != QProcess::NotRunning) {
    Sim->terminate();
    if (!Sim->waitForFinished(2000)) {
      Sim->kill();
      Sim->waitForFinished(1000);
    }
  }
  delete Sim;
  Sim = nullptr;
}

void ConnectSimulatedRobot(TSerialNGBasicDLG &dlg, TSimulatedRobot &robot) {
  QObject::connect(dlg.UseSimulator, &QPushButton::clicked, &dlg, [&dlg, &robot] {
    QString error;
    if (!robot.Start(error)) {
      QMessageBox::warning(&dlg, "Serial Basic Settings", "The simulated robot cannot be started: " + error);
      return;
    }
    dlg.CBPort->setEditText(TSimulatedRobot::LinkPath());
    dlg.CBBaud->setCurrentText("19200");
    dlg.accept();
  });
}
