// Remote access in the window: the settings dialog writes [Remote] and
// starts the server; report lines and question boxes reach the page.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <filesystem>

#include "app/FormMain.h"
#include "app/RemoteAccess.h"
#include "app/ReportWindow.h"
#include "base/Profile.h"
#include "machine/Startup.h"
#include "remote/RemoteFixture.h"

namespace {

class RemoteAccessTest : public TTempDirTest {};

TEST_F(RemoteAccessTest, TheDialogTurnsItOnAndTheWindowTellsThePage) {
  TTFormMain form(false);
  TRemoteAccess remote(form);
  EXPECT_EQ(form.ReportWindow->LineCount(), 0);  // off: not even a line
  QTcpServer probe;                              // a port that is free now
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
  const int port = probe.serverPort();
  probe.close();
  QTimer::singleShot(0, [&] {
    auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (!dlg) return;
    dlg->findChild<QSpinBox *>("Port")->setValue(port);
    dlg->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
  });
  remote.ShowDialog(&form);
  const std::string token = ProfileReadString(SettingsIniFile, "Remote", "Token", "");
  EXPECT_EQ(token.size(), 64u);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(ProfileReadInt(SettingsIniFile, "Remote", "Port", 0), port);
  EXPECT_EQ(ProfileReadString(SettingsIniFile, "Remote", "Network", ""), "local");
  EXPECT_EQ(ProfileReadString(SettingsIniFile, "Remote", "ReadToken", "").size(), 64u);
  EXPECT_EQ(std::filesystem::status(ProfilePath(SettingsIniFile)).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(form.ReportWindow->Line(0),
            "Remote access on port " + std::to_string(port) + " (this computer only)");

  std::vector<TRunEvent> heard;
  const int id = AddRunListener([&](const TRunEvent &e) { heard.push_back(e); });
  ReportLine("*** No answer from controller 3");
  QTimer::singleShot(0, [] {
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
      box->button(QMessageBox::No)->click();
  });
  form.Ask(TMsgKind::Confirmation, "Stop the task?", mbYes | mbNo, mbNo, mbNo);
  RemoveRunListener(id);
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[0].Kind, TRunEventKind::LineFault);
  EXPECT_EQ(heard[0].Text, "*** No answer from controller 3");
  EXPECT_EQ(heard[1].Kind, TRunEventKind::QuestionAsked);
  EXPECT_EQ(heard[1].Text, "Stop the task?");
  EXPECT_EQ(heard[2].Kind, TRunEventKind::QuestionAnswered);
  EXPECT_EQ(heard[2].Answer, "No");
  EXPECT_EQ(form.ReportWindow->Line(1), "*** No answer from controller 3");
  const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n";
  const std::string status = BodyOf(Exchange(quint16(port), "GET /api/status?full=1 HTTP/1.1\r\n" + host));
  EXPECT_NE(status.find("\"lines\":[\"Remote access on port"), std::string::npos) << status;
  EXPECT_NE(status.find("\"*** No answer from controller 3\"]"), std::string::npos);

  TRemoteSettings off = LoadRemoteSettings(SettingsIniFile);
  off.Port = 0;
  remote.Apply(off);
  EXPECT_EQ(form.ReportWindow->Line(2), "Remote access off");
  EXPECT_EQ(StatusOf(Exchange(quint16(port), "GET /api/status HTTP/1.1\r\n" + host)), 0);
}

}  // namespace
