// "Serial Basic Settings": OK sets the port, opens it and stores what it
// holds; Cancel changes nothing.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

#include "app/FormMain.h"
#include "app/SerialNGBasicDLG.h"
#include "base/Profile.h"
#include "serial/PtyPeer.h"
#include "serial/SerialLine.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"
#include "support/TempDir.h"

namespace {
class SettingsDialog : public TTempDirTest {
protected:
  THostFixture Host{1};
  TPtyPeer Peer;
  TSerialPortNG Port;
  TSerialNGBasicDLG Dlg;
  // Opens the dialog on the port; `choose` acts on it, then OK or Cancel.
  bool Run(const std::function<void()> &choose, bool ok) {
    Port.ThreadQuietMode = true;
    Port.SetCommPort(Peer.SlavePath);
    Dlg.LoadPortSettings(Port);
    choose();
    if (ok) SaveSerialSettings(Dlg, Port, "KVSettings.ini");
    return ok;
  }
  std::string Key(const char *key) {
    return ProfileReadString("KVSettings.ini", "COMPortSettings", key, "-");
  }
};
}  // namespace

TEST_F(SettingsDialog, OkSetsThePortOpensItAndWritesWhatItHolds) {
  Port.SetBaudRate(4000);  // unknown: shown and stored as 19200
  Put("KVSettings.ini", "[General]\r\nNMotors=2\r\n");
  ASSERT_TRUE(Run(
      [&] {
        Dlg.CBParity->setCurrentText("Even");
        Dlg.CBFlow->setCurrentText("RTS-CTS");
        // "Check line" shows what the check says, in the dialog.
        Dlg.OnCheckLine = [&] {
          Port.SetReplyRule(TReplyRule::All());  // as if earned
          return std::string("Line check, controller 1: passed");
        };
        Dlg.CheckLineButton->click();
        EXPECT_EQ(Dlg.CheckLineResult->text().toStdString(), "Line check, controller 1: passed");
      },
      true));
  EXPECT_TRUE(Port.Active());
  EXPECT_EQ(Port.BaudRate(), 19200u);
  EXPECT_EQ(Port.FlowControl(), 8196);
  EXPECT_EQ(
      Key("Port") + " " + Key("Baud") + " " + Key("Parity") + " " + Key("Control") + " " + Key("FastReplies"),
      Peer.SlavePath + " 19200 2 8196 2");
  // OK with the setting unchanged keeps what the line earned, and says it.
  EXPECT_TRUE(Port.ReplyRule().Answers[1]);
  EXPECT_TRUE(Host.Report.Has("Replies end at the line end: automatic, at the line end"));
  ASSERT_TRUE(Run([&] { Dlg.CBFastReplies->setCurrentText("On"); }, true));
  EXPECT_EQ(Port.FastReplies(), TFastReplies::On);
  EXPECT_TRUE(Host.Report.Has("Replies end at the line end: on"));
  EXPECT_EQ(ProfileReadInt("KVSettings.ini", "General", "NMotors", 0), 2);  // the rest untouched
}

// In the program: opened from the menu, modeless; Cancel changes neither the
// port nor the file, OK sets both.
TEST_F(SettingsDialog, TheWindowAppliesOkOnlyAndLeavesCancelAlone) {
  Put("KVSettings.ini", "[COMPortSettings]\r\nPort=" + Peer.SlavePath + "\r\nBaud=19200\r\n");
  TTFormMain form;
  form.CreateDialogs();
  TSerialNGBasicDLG &dlg = *form.SerialNGBasicDLG;
  for (bool ok : {false, true}) {
    form.Communication1->trigger();
    ASSERT_TRUE(dlg.isVisible() && !dlg.isModal());
    EXPECT_EQ(dlg.CBBaud->currentText(), "19200");
    dlg.CBBaud->setCurrentText("9600");
    ok ? dlg.accept() : dlg.reject();
    EXPECT_EQ(SerialPortNG1->BaudRate(), ok ? 9600u : 19200u);
    EXPECT_EQ(Key("Baud"), ok ? "9600" : "19200");
    if (!ok) continue;
    form.Communication1->trigger();
    EXPECT_EQ(dlg.CBBaud->currentText(), "9600");
  }
}
