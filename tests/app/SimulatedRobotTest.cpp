// "Use the simulated robot": one click starts the simulator of this build on
// the user's own pseudo-terminal, points the port at it and stores that; the
// port field also takes a typed device path.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <sys/stat.h>

#include "app/FormMain.h"
#include "app/ReportWindow.h"
#include "app/SimulatedRobot.h"
#include "base/Profile.h"
#include "app/SerialNGBasicDLG.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"
#include "support/TempDir.h"
#include "veri/Transport.h"

namespace {

class SimulatedRobot : public TTempDirTest {
protected:
  std::string SavedRuntime;
  void SetUp() override {
    TTempDirTest::SetUp();
    if (const char *r = std::getenv("XDG_RUNTIME_DIR")) SavedRuntime = r;
    const std::string run = Dir + "/run";
    ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  }
  void TearDown() override {
    if (SavedRuntime.empty()) unsetenv("XDG_RUNTIME_DIR");
    else setenv("XDG_RUNTIME_DIR", SavedRuntime.c_str(), 1);
    TTempDirTest::TearDown();
  }
  // Opens the dialog on `port`; `act` does what the operator does in it;
  // OK (the dialog accepted) stores the choices as the window does.
  static bool Run(TSerialNGBasicDLG &dlg, TSerialPortNG &port, std::function<void()> act) {
    dlg.LoadPortSettings(port);
    dlg.setResult(QDialog::Rejected);
    act();
    if (dlg.result() != QDialog::Accepted) return false;
    SaveSerialSettings(dlg, port, "KVSettings.ini");
    return true;
  }
};

TEST_F(SimulatedRobot, OneClickConnectsAndTheSimulatorEndsWithItsOwner) {
  THostFixture host;
  Host().Clock = nullptr;  // the simulator answers in real time
  TSerialPortNG port;
  port.ThreadQuietMode = true;
  TSerialNGBasicDLG dlg;
  auto robot = std::make_unique<TSimulatedRobot>();
  ConnectSimulatedRobot(dlg, *robot);
  const QString link = QString::fromStdString(Dir + "/run/kavetra-sim.pty");
  EXPECT_EQ(TSimulatedRobot::LinkPath(), link);

  ASSERT_TRUE(Run(dlg, port, [&] { dlg.UseSimulator->click(); }));
  EXPECT_TRUE(robot->Running());
  EXPECT_EQ(port.CommPort(), link.toStdString());
  EXPECT_EQ(ProfileReadString("KVSettings.ini", "COMPortSettings", "Port", ""), link.toStdString());
  EXPECT_EQ(ProfileReadString("KVSettings.ini", "COMPortSettings", "Baud", ""), "19200");
  ASSERT_TRUE(port.Active());
  IClusterPort *saved = VeriPort();
  VeriPort() = &port;
  const std::string version = VERIDialog(3, "VER");
  VeriPort() = saved;
  EXPECT_NE(version.find("VERISIM"), std::string::npos) << version;

  // A second click with it running keeps the one simulator.
  ASSERT_TRUE(Run(dlg, port, [&] { dlg.UseSimulator->click(); }));
  EXPECT_TRUE(robot->Running());
  port.SetActive(false);
  EXPECT_TRUE(QFileInfo(link).exists());
  robot.reset();  // the program ends: its pseudo-terminal goes with it
  EXPECT_FALSE(QFileInfo(link).exists());
  // Its stale link is replaced on the next start, not followed.
  TSimulatedRobot again;
  QString error;
  ASSERT_TRUE(again.Start(error)) << error.toStdString();
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  again.Stop();
  EXPECT_FALSE(again.Running());
}

// Kept as the port, it starts again with the program, before the port
// opens, and ends with it.
TEST_F(SimulatedRobot, AProgramWhosePortNamesItStartsItAndEndsIt) {
  THostFixture host;
  Host().Clock = nullptr;
  const std::string link = Dir + "/run/kavetra-sim.pty";
  Put("KVSettings.ini", "[COMPortSettings]\r\nPort=" + link + "\r\n");
  {
    TTFormMain form;
    EXPECT_TRUE(SerialPortNG1->Active());
    const std::string log = form.ReportWindow->toPlainText().toStdString();
    EXPECT_NE(log.find("Simulated robot started on " + link), std::string::npos) << log;
    EXPECT_TRUE(QFileInfo(QString::fromStdString(link)).exists());
  }
  EXPECT_FALSE(QFileInfo(QString::fromStdString(link)).exists());
}

TEST_F(SimulatedRobot, ThePortFieldTakesATypedDevicePath) {
  TSerialPortNG port;
  port.ThreadQuietMode = true;
  TSerialNGBasicDLG dlg;
  ASSERT_TRUE(Run(dlg, port, [&] {
    dlg.CBPort->setEditText("/dev/kavetra-typed-tty");
    dlg.accept();
  }));
  EXPECT_EQ(port.CommPort(), "/dev/kavetra-typed-tty");
  EXPECT_EQ(ProfileReadString("KVSettings.ini", "COMPortSettings", "Port", ""), "/dev/kavetra-typed-tty");
  // Opened again, it shows the typed path, not COM1.
  dlg.LoadPortSettings(port);
  EXPECT_EQ(dlg.CBPort->currentText(), "/dev/kavetra-typed-tty");
}

// The link's folder: made 0700, refused unless this user's own with mode
// 0700 (not a link); without XDG_RUNTIME_DIR it lies in /tmp/kavetra-<uid>.
// One program of the user at a time runs the simulator: a second one is
// refused and leaves the first one's link alone.
TEST_F(SimulatedRobot, ThePrivateFolderAndOneProgramAtATime) {
  QString error;
  const std::string own = Dir + "/own";
  EXPECT_TRUE(PrivateFolder(QString::fromStdString(own), error));
  struct stat st {};
  ASSERT_EQ(stat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(chmod(own.c_str(), 0755), 0);
  ASSERT_EQ(symlink(own.c_str(), (Dir + "/link").c_str()), 0);
  for (const std::string &bad : {own, Dir + "/link"}) {
    EXPECT_FALSE(PrivateFolder(QString::fromStdString(bad), error));
    EXPECT_EQ(error.toStdString(), bad + " is not a folder of this user's own with mode 0700");
  }
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(TSimulatedRobot::LinkPath(), QString("/tmp/kavetra-%1/kavetra-sim.pty").arg(getuid()));
  setenv("XDG_RUNTIME_DIR", (Dir + "/run").c_str(), 1);

  THostFixture host;
  Host().Clock = nullptr;
  const QString link = TSimulatedRobot::LinkPath();
  TSimulatedRobot first, second;
  ASSERT_TRUE(first.Start(error)) << error.toStdString();
  const QString target = QFileInfo(link).symLinkTarget();
  EXPECT_FALSE(second.Start(error));
  EXPECT_EQ(error, "another Kavetra of this user runs the simulated robot at " + link);
  second.Stop();
  EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
  first.Stop();
  EXPECT_TRUE(second.Start(error)) << error.toStdString();
}

}  // namespace
