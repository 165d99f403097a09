#include <QCheckBox>
#include <QComboBox>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "PtyPeer.h"
#include "base/Profile.h"
#include "serial/SerialNGBasicDLG.h"
#include "serial/SerialPortNG.h"

namespace {
class SettingsDialog : public ::testing::Test {
protected:
  TPtyPeer Peer;
  TSerialPortNG Port;
  TSerialNGBasicDLG Dlg;
  std::string Dir, Ini;
  void SetUp() override {
    char tmpl[] = "/tmp/kvserial-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Dir = tmpl;
    Ini = Dir + "/KVSettings.ini";
    Port.ThreadQuietMode = true;
    Port.SetCommPort(Peer.SlavePath);
  }
  void TearDown() override { (void)!std::system(("rm -rf '" + Dir + "'").c_str()); }
  // Runs the dialog; `choose` acts on it while it is shown, then OK or Cancel.
  bool Run(const std::function<void()> &choose, bool ok) {
    QTimer::singleShot(0, &Dlg, [&] {
      choose();
      ok ? Dlg.accept() : Dlg.reject();
    });
    return ChangeSerialSettings(Dlg, Port, Ini);
  }
  std::string Key(const char *key) { return ProfileReadString(Ini, "COMPortSettings", key, "<none>"); }
};
}  // namespace

TEST_F(SettingsDialog, ShowsThePortAndFallsBackForUnknownValues) {
  Port.SetBaudRate(9600);
  Port.SetFlowControl(896);
  Dlg.LoadPortSettings(Port);
  EXPECT_EQ(Dlg.CBBaud->currentText(), "9600");
  EXPECT_EQ(Dlg.CBFlow->currentText(), "XOn-XOff");
  EXPECT_EQ(Dlg.CBPort->currentText().toStdString(), Peer.SlavePath);  // a path stays a choice
  EXPECT_EQ(Dlg.CBBaud->itemText(12), "115000");

  Port.SetBaudRate(4000);
  Port.SetFlowControl(3);
  Port.SetCommPort("COM9");
  Dlg.LoadPortSettings(Port);
  EXPECT_EQ(Dlg.CBBaud->currentText(), "19200");
  EXPECT_EQ(Dlg.CBFlow->currentText(), "None (*)");
  EXPECT_EQ(Dlg.CBPort->currentText(), "COM1");
  EXPECT_EQ(Dlg.CBPort->count(), 8);
}

TEST_F(SettingsDialog, OkSetsThePortOpensItAndWritesWhatItHolds) {
  Port.SetBaudRate(4000);
  Port.SetFlowControl(3);
  std::ofstream(Ini) << "[General]\r\nNMotors=2\r\n";
  ASSERT_TRUE(Run([&] {
    Dlg.CBData->setCurrentText("7 Bit");
    Dlg.CBStop->setCurrentText("2 Bits");
    Dlg.CBParity->setCurrentText("Even");
    Dlg.CBFlow->setCurrentText("RTS-CTS");
    Dlg.CBFastReplies->setChecked(true);
  }, true));
  EXPECT_TRUE(Port.Active());
  EXPECT_EQ(Port.BaudRate(), 19200u);
  EXPECT_EQ(Port.FlowControl(), 8196);
  EXPECT_EQ(Key("Port"), Peer.SlavePath);
  EXPECT_EQ(Key("Baud"), "19200");
  EXPECT_EQ(Key("Parity"), "2");
  EXPECT_EQ(Key("Control"), "8196");
  EXPECT_EQ(Key("FastReplies"), "1");
  EXPECT_EQ(ProfileReadInt(Ini, "General", "NMotors", 0), 2);  // the rest untouched

  // Unknown flow control on a reopening becomes "None" and OK stores 0.
  Port.SetFlowControl(3);
  ASSERT_TRUE(Run([] {}, true));
  EXPECT_EQ(Port.FlowControl(), 0);
  EXPECT_EQ(Key("Control"), "0");
  EXPECT_TRUE(Port.FastReplies());  // shown as it was, kept by OK
}

TEST_F(SettingsDialog, CancelChangesNeitherPortNorFile) {
  Port.SetBaudRate(9600);
  EXPECT_FALSE(Run([&] {
    Dlg.CBPort->setCurrentText("COM3");
    Dlg.CBBaud->setCurrentText("256000");
    Dlg.CBFlow->setCurrentText("DSR-DTR");
    Dlg.CBFastReplies->setChecked(true);
  }, false));
  EXPECT_FALSE(Port.Active());
  EXPECT_EQ(Port.CommPort(), Peer.SlavePath);
  EXPECT_EQ(Port.BaudRate(), 9600u);
  EXPECT_EQ(access(Ini.c_str(), F_OK), -1);
  Dlg.LoadPortSettings(Port);
  EXPECT_EQ(Dlg.CBBaud->currentText(), "9600");
  EXPECT_EQ(Dlg.CBFlow->currentText(), "None (*)");
  EXPECT_FALSE(Dlg.CBFastReplies->isChecked());
}

TEST_F(SettingsDialog, UnwritableFileThrowsAfterThePortTookTheValues) {
  std::string bad = Dir + "/no/such/dir/KVSettings.ini";
  QTimer::singleShot(0, &Dlg, [&] {
    Dlg.CBBaud->setCurrentText("38400");
    Dlg.accept();
  });
  EXPECT_THROW(ChangeSerialSettings(Dlg, Port, bad), std::runtime_error);
  EXPECT_EQ(Port.BaudRate(), 38400u);
  EXPECT_TRUE(Port.Active());
}
