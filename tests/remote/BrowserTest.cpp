// A real browser (Debian's chromium, headless) on the status page during a
// task on the simulated robot; the page is kept as a screenshot in
// build/remote/.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include "RemoteFixture.h"
#include "tasks/TaskRun.h"

namespace {

// Starts headless chromium on `url` with `mode` (--dump-dom, --screenshot=...).
void StartChromium(QProcess &p, const std::string &profile, const QStringList &mode, const std::string &url) {
  p.start("chromium",
          QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--user-data-dir=" + QString::fromStdString(profile),
                      // Page timers run on virtual time; fetches hold it, so
                      // each poll is answered before the next.
                      "--virtual-time-budget=30000", "--window-size=412,1100"} +
              mode + QStringList{QString::fromStdString(url)});
}

// Runs the event loop (the server's status is built on this thread) until
// chromium ends; what it printed.
std::string Finish(QProcess &p) {
  Until([&] { return p.state() == QProcess::NotRunning; }, 120000);
  if (p.state() != QProcess::NotRunning) {
    p.kill();
    p.waitForFinished();
  }
  return p.readAllStandardOutput().toStdString();
}

// Chromium runs on its own; the task on the simulated robot (fake clock)
// goes on to its next dip only after the page has asked for the status
// twice since the dip began, so the counter advances with the page's own
// requests, not with time.
TEST_F(RemoteRunTest, ABrowserFollowsTheDipCounterDuringATask) {
  ASSERT_FALSE(QStandardPaths::findExecutable("chromium").isEmpty())
      << "chromium: tools/setup.sh installs it";
  TRunWatch watch;
  TRemoteSettings settings;
  settings.Lab = true;
  const auto server = Serve(watch, settings, 'd');
  ASSERT_TRUE(server);
  AppendProcess(Proc("Coat", 0.5, 0.5, 3));
  AppendTask({"Coat thrice", "Coat"});
  CurTask = TaskCount;
  int built = 0;
  watch.Connected = [&] { return ++built > 0; };
  H.Events.OnPump = [] { QCoreApplication::processEvents(); };
  const int id = AddRunListener([&](const TRunEvent &e) {
    if (e.Kind != TRunEventKind::DipStarted) return;
    const int until = built + 2;
    Until([&] { return built >= until && server->WebSocketCount() > 0; }, 60000);
  });
  const std::string url = "http://127.0.0.1:" + std::to_string(server->Port()) + "/?token=" + settings.ReadToken;
  QProcess dump;
  StartChromium(dump, Work.Dir + "/profile", {"--dump-dom"}, url);
  TaskStart();
  RemoveRunListener(id);
  const std::string dom = Finish(dump);
  EXPECT_NE(dom.find("<td id=\"dip\">3 of 3</td>"), std::string::npos) << dom;
  for (const char *seen : {"dip started Coat thrice Coat 2 of 3", "dip started Coat thrice Coat 3 of 3",
                           "run ended Coat thrice done"})
    EXPECT_NE(dom.find(seen), std::string::npos) << seen;
  EXPECT_NE(dom.find("<td id=\"task\">Coat thrice</td>"), std::string::npos);

  const QString shot = QString(KV_BUILD_DIR) + "/remote/page.png";
  QDir().mkpath(QString(KV_BUILD_DIR) + "/remote");
  QFile::remove(shot);
  QProcess picture;
  StartChromium(picture, Work.Dir + "/profile2", {"--screenshot=" + shot, "--hide-scrollbars"}, url);
  Finish(picture);
  EXPECT_TRUE(QFileInfo(shot).size() > 0) << shot.toStdString();
}

}  // namespace
