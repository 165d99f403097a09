// "Serial Basic Settings": OK sets the port, opens it and stores what it
// holds; Cancel changes nothing.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

#include "app/FormMain.h"
#include "app/ReportWindow.h"
#include "app/SerialNGBasicDLG.h"
#include "base/Profile.h"
#include "serial/PtyPeer.h"
#include "serial/SerialLine.h"
#include "serial/SerialPortNG.h"
#include "support/TempDir.h"

namespace {
class SettingsDialog : public TTempDirTest {};

// Opened from the menu, modeless, on the port as it is: Cancel changes
// neither the port nor the file; OK sets the port, opens it and stores what
// it holds; "Check line" shows the check's text.
TEST_F(SettingsDialog, CancelLeavesAllOkSetsPortAndFile) {
  TPtyPeer peer;
  Put("KVSettings.ini", "[COMPortSettings]\r\nPort=" + peer.SlavePath + "\r\nBaud=4000\r\n");
  TTFormMain form;
  form.CreateDialogs();
  TSerialNGBasicDLG &dlg = *form.SerialNGBasicDLG;
  auto key = [](const char *k) { return ProfileReadString("KVSettings.ini", "COMPortSettings", k, "-"); };
  auto log = [&] { return form.ReportWindow->toPlainText().toStdString(); };
  for (bool ok : {false, true}) {
    form.Communication1->trigger();
    ASSERT_TRUE(dlg.isVisible() && !dlg.isModal());
    EXPECT_EQ(dlg.CBBaud->currentText(), "19200");  // 4000 is no choice
    dlg.CBParity->setCurrentText("Even");
    dlg.CBFlow->setCurrentText("RTS-CTS");
    dlg.OnCheckLine = [] {
      SerialPortNG1->SetReplyRule(TReplyRule::All());  // as if earned
      return std::string("Line check, controller 1: passed");
    };
    dlg.CheckLineButton->click();
    EXPECT_EQ(dlg.CheckLineResult->text(), "Line check, controller 1: passed");
    ok ? dlg.accept() : dlg.reject();
    EXPECT_EQ(SerialPortNG1->FlowControl(), ok ? 8196 : 0);
    EXPECT_EQ(key("Baud") + " " + key("Parity") + " " + key("Control"), ok ? "19200 2 8196" : "4000 - -");
  }
  EXPECT_TRUE(SerialPortNG1->Active());
  EXPECT_EQ(key("Port") + " " + key("FastReplies"), peer.SlavePath + " 2");
  // OK with the setting unchanged keeps what the line earned, and says it.
  EXPECT_TRUE(SerialPortNG1->ReplyRule().Answers[1]);
  EXPECT_NE(log().find("Replies end at the line end: automatic, at the line end"), std::string::npos);
  form.Communication1->trigger();
  dlg.CBFastReplies->setCurrentText("On");
  dlg.accept();
  EXPECT_EQ(SerialPortNG1->FastReplies(), TFastReplies::On);
  EXPECT_NE(log().find("Replies end at the line end: on"), std::string::npos);
}
}  // namespace
