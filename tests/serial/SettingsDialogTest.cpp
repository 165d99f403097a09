#include <QComboBox>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "PtyPeer.h"
#include "machine/Profile.h"
#include "serial/SerialNGBasicDLG.h"
#include "serial/SerialPortNG.h"
#include "support/TempDir.h"

namespace {
class SettingsDialog : public TTempDirTest {
protected:
  TPtyPeer Peer;
  TSerialPortNG Port;
  TSerialNGBasicDLG Dlg;
  // Runs the dialog; `choose` acts on it while it is shown, then OK or Cancel.
  bool Run(const std::function<void()> &choose, bool ok) {
    Port.ThreadQuietMode = true;
    Port.SetCommPort(Peer.SlavePath);
    QTimer::singleShot(0, &Dlg, [&] {
      choose();
      ok ? Dlg.accept() : Dlg.reject();
    });
    return ChangeSerialSettings(Dlg, Port, "KVSettings.ini");
  }
  std::string Key(const char *key) { return ProfileReadString("KVSettings.ini", "COMPortSettings", key, "-"); }
};
}  // namespace

TEST_F(SettingsDialog, OkSetsThePortOpensItAndWritesWhatItHolds) {
  Port.SetBaudRate(4000);  // unknown: shown and stored as 19200
  Put("KVSettings.ini", "[General]\r\nNMotors=2\r\n");
  ASSERT_TRUE(Run([&] {
    Dlg.CBParity->setCurrentText("Even");
    Dlg.CBFlow->setCurrentText("RTS-CTS");
  }, true));
  EXPECT_TRUE(Port.Active());
  EXPECT_EQ(Port.BaudRate(), 19200u);
  EXPECT_EQ(Port.FlowControl(), 8196);
  EXPECT_EQ(Key("Port"), Peer.SlavePath);
  EXPECT_EQ(Key("Baud"), "19200");
  EXPECT_EQ(Key("Parity"), "2");
  EXPECT_EQ(Key("Control"), "8196");
  EXPECT_EQ(ProfileReadInt("KVSettings.ini", "General", "NMotors", 0), 2);  // the rest untouched
}

TEST_F(SettingsDialog, CancelChangesNeitherPortNorFile) {
  Port.SetBaudRate(9600);
  EXPECT_FALSE(Run([&] {
    Dlg.CBPort->setCurrentText("COM3");
    Dlg.CBBaud->setCurrentText("256000");
  }, false));
  EXPECT_FALSE(Port.Active());
  EXPECT_EQ(Port.CommPort(), Peer.SlavePath);
  EXPECT_EQ(Port.BaudRate(), 9600u);
  EXPECT_FALSE(Exists("KVSettings.ini"));
}
