// Notices reach a listener on 127.0.0.1; a listener that fails them is
// tried a few times and logged once.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTcpServer>

#include "RemoteFixture.h"
#include "remote/Notifier.h"

namespace {

// Takes whole POSTs and answers each with `status`.
class TListener {
public:
  QTcpServer Server;
  std::vector<QByteArray> Bodies;
  int Status = 200;
  TListener() {
    Server.listen(QHostAddress::LocalHost);
    QObject::connect(&Server, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *s = Server.nextPendingConnection()) {
        auto got = std::make_shared<QByteArray>();
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, got] {
          *got += s->readAll();
          const int end = got->indexOf("\r\n\r\n");
          const int at = got->toLower().indexOf("content-length:");
          if (end < 0 || at < 0) return;
          const int length = got->mid(at + 15, got->indexOf('\r', at) - at - 15).trimmed().toInt();
          if (got->size() < end + 4 + length) return;
          Bodies.push_back(got->mid(end + 4, length));
          s->write("HTTP/1.1 " + QByteArray::number(Status) +
                   " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
          s->disconnectFromHost();
        });
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(Server.serverPort()) + "/hook"; }
};

// Runs the event loop until `done` (or a guard against a hang runs out).
template <class F>
void WaitFor(F done) {
  QElapsedTimer guard;
  guard.start();
  while (!done() && guard.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

TEST_F(RemoteTest, NoticesOfARunsEndAndAQuestionReachTheListener) {
  TListener listener;
  TNotifier notifier({listener.Url()}, 0);
  TRunEvent e;
  e.Kind = TRunEventKind::DipStarted;  // tells nobody
  SendRunEvent(e);
  e.Kind = TRunEventKind::RunEnded, e.Task = "Coat", e.End = "stopped", e.Text = "2 of 4 dips";
  SendRunEvent(e);  // returns before the listener has even taken the connection
  EXPECT_TRUE(listener.Bodies.empty());
  e.Kind = TRunEventKind::QuestionAsked, e.Text = "Emergency stop active. Stop the task?";
  SendRunEvent(e);
  WaitFor([&] { return listener.Bodies.size() >= 2; });
  ASSERT_EQ(listener.Bodies.size(), 2u);
  std::string texts;  // two connections: either may come first
  for (const QByteArray &b : listener.Bodies)
    texts += QJsonDocument::fromJson(b)["text"].toString().toStdString() + "\n";
  EXPECT_NE(texts.find(": task \"Coat\" ended: stopped. 2 of 4 dips\n"), std::string::npos) << texts;
  EXPECT_NE(texts.find(" waits for the operator: Emergency stop active. Stop the task?\n"),
            std::string::npos);
  EXPECT_TRUE(H.Report.Lines.empty());
}

TEST_F(RemoteTest, AFailingListenerIsTriedAFewTimesAndLoggedOnce) {
  TListener listener;
  listener.Status = 500;
  TNotifier notifier({listener.Url(), "http://127.0.0.1:1/closed"}, 0);
  TRunEvent e(TRunEventKind::RunEnded);
  e.Task = "T", e.End = "done";
  for (int n = 1; n <= 2; ++n) {
    SendRunEvent(e);
    WaitFor([&] { return notifier.Ended() == 2 * n; });
    EXPECT_EQ(listener.Bodies.size(), size_t(n * TNotifier::Attempts));
  }
  ASSERT_EQ(H.Report.Lines.size(), 2u) << H.Report.Joined();
  EXPECT_TRUE(H.Report.Has("*** Notice to " + listener.Url() + " not sent (3 tries): HTTP 500"))
      << H.Report.Joined();
  EXPECT_TRUE(H.Report.HasPrefix("*** Notice to http://127.0.0.1:1/closed not sent (3 tries): "));
}

}  // namespace
