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
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/SerialNGBasicDLG.h"

TSimulatedRobot::TSimulatedRobot(QObject *parent) : QObject(parent) {}

TSimulatedRobot::~TSimulatedRobot() { Stop(); }

QString TSimulatedRobot::LinkPath() {
  // $XDG_RUNTIME_DIR (private to the user), else a folder of our own in /tmp.
  QString dir = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
  if (!QDir::isAbsolutePath(dir)) dir = "/tmp/kavetra-" + QString::number(::getuid());
  return QDir(dir).filePath("kavetra-sim.pty");
}

bool PrivateFolder(const QString &dir, QString &error) {
  const QByteArray path = QFile::encodeName(dir);
  if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
    error = dir + " cannot be made: " + QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  // Another user's folder (or a link to one) would let them lead the port.
  struct stat st {};
  if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 07777) != 0700) {
    error = dir + " is not a folder of this user's own with mode 0700";
    return false;
  }
  return true;
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
  if (!PrivateFolder(QFileInfo(link).path(), error)) return false;
  // One program of the user at a time owns the link: a second one would
  // re-point it under the first, and its end would remove it.
  Lock = ::open(QFile::encodeName(link + ".lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (Lock < 0 || ::flock(Lock, LOCK_EX | LOCK_NB) != 0) {
    error = "another Kavetra of this user runs the simulated robot at " + link;
    Stop();
    return false;
  }
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
  StopSimulator();
  if (Lock >= 0) ::close(Lock);  // the link is free once our simulator is gone
  Lock = -1;
}

void TSimulatedRobot::StopSimulator() {
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
