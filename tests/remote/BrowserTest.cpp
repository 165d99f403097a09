// A real browser (Debian's chromium, headless) on the status page while run
// events advance the dip counter; the page is kept as a screenshot in
// build/remote/.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include "RemoteFixture.h"
#include "base/OpState.h"

namespace {

// Runs headless chromium on `url` with `mode` (--dump-dom, --screenshot=...)
// and returns what it printed; the event loop runs meanwhile, so the server
// in this thread answers it.
std::string Chromium(const std::string &profile, const QStringList &mode, const std::string &url) {
  QProcess p;
  QEventLoop loop;
  QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
  QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
  QTimer::singleShot(120000, &loop, &QEventLoop::quit);  // guard against a hang
  p.start("chromium",
          QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--user-data-dir=" + QString::fromStdString(profile),
                      // Page timers run on virtual time; fetches hold it, so
                      // each poll is answered before the next.
                      "--virtual-time-budget=30000", "--window-size=412,1100"} +
              mode + QStringList{QString::fromStdString(url)});
  loop.exec();
  if (p.state() != QProcess::NotRunning) {
    p.kill();
    p.waitForFinished();
  }
  return p.readAllStandardOutput().toStdString();
}

TEST_F(RemoteTest, ABrowserFollowsTheDipCounterLive) {
  ASSERT_FALSE(QStandardPaths::findExecutable("chromium").isEmpty())
      << "chromium: tools/setup.sh installs it";
  Start(true);
  SetOpState(TaskRunning);
  Watch.NoteLine("--- Start Task  ---");
  Watch.NoteLine("Task: Coat twice");
  TRunEvent e;
  e.Task = "Coat twice";
  SendRunEvent(e);
  e.Kind = TRunEventKind::DipStarted;
  e.Process = "Coat";
  e.Dip = 1;
  e.Dips = 3;
  SendRunEvent(e);
  // Each status the page asks for, once it listens, brings the next dip:
  // the counter advances with the page's own requests, not with time.
  Watch.Connected = [&] {
    if (e.Dip < e.Dips && Server->WebSocketCount() > 0)
      QTimer::singleShot(0, [&] {
        ++e.Dip;
        SendRunEvent(e);
      });
    return true;
  };
  const std::string url = "http://127.0.0.1:" + std::to_string(Server->Port()) + "/?token=" + Token;
  const std::string dom = Chromium(Dir + "/profile", {"--dump-dom"}, url);
  EXPECT_NE(dom.find("<td id=\"dip\">3 of 3</td>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("dip started Coat twice Coat 2 of 3"), std::string::npos);
  EXPECT_NE(dom.find("dip started Coat twice Coat 3 of 3"), std::string::npos);
  EXPECT_NE(dom.find("<td id=\"task\">Coat twice</td>"), std::string::npos);

  const QString shot = QString(KV_BUILD_DIR) + "/remote/page.png";
  QDir().mkpath(QString(KV_BUILD_DIR) + "/remote");
  QFile::remove(shot);
  Chromium(Dir + "/profile2", {"--screenshot=" + shot, "--hide-scrollbars"}, url);
  EXPECT_TRUE(QFileInfo(shot).size() > 0) << shot.toStdString();
  SetOpState(Idle);
}

}  // namespace
