#include "remote/Notifier.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSysInfo>
#include <QTimer>

#include "base/Host.h"
#include "remote/RunWatch.h"

namespace {
// Why a post failed, in words that never hold the URL (Qt's error strings
// may quote it whole, with its user, password and path).
std::string Failure(QNetworkReply::NetworkError e) {
  switch (e) {
    case QNetworkReply::NoError: return "";
    case QNetworkReply::OperationCanceledError:  // the transfer time-out cancels
    case QNetworkReply::TimeoutError: return "timed out after " + std::to_string(TNotifier::TimeoutMs / 1000) + " s";
    case QNetworkReply::ConnectionRefusedError: return "connection refused";
    case QNetworkReply::RemoteHostClosedError: return "connection closed by the server";
    case QNetworkReply::HostNotFoundError: return "host not found";
    case QNetworkReply::SslHandshakeFailedError: return "TLS handshake failed";
    case QNetworkReply::ProtocolUnknownError: return "not an http or https URL";
    default: return "network error " + std::to_string(int(e));
  }
}

// Lives in the notifier's thread; its network manager is made there.
class TPoster : public QObject {
public:
  using TDone = std::function<void(const std::string &url, const std::string &failure, bool test)>;
  TPoster(int retryMs, TDone done) : RetryMs(retryMs), Done(std::move(done)) {}
  void Post(const QString &url, const QByteArray &body, int attempt, bool test) {
    if (!Net) Net = new QNetworkAccessManager(this);
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setTransferTimeout(TNotifier::TimeoutMs);
    QNetworkReply *reply = Net->post(request, body);
    connect(reply, &QNetworkReply::finished, this, [=] {
      reply->deleteLater();
      const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
      std::string failure;
      if (status && (status < 200 || status > 299)) failure = "HTTP " + std::to_string(status);
      else failure = Failure(reply->error());
      if (!failure.empty() && attempt < TNotifier::Attempts) {
        QTimer::singleShot(RetryMs, this, [=] { Post(url, body, attempt + 1, test); });
        return;
      }
      Done(url.toStdString(), failure, test);
    });
  }

private:
  int RetryMs;
  TDone Done;
  QNetworkAccessManager *Net = nullptr;
};
}  // namespace

TNotifier::TNotifier(std::vector<std::string> urls, int retryMs, QObject *parent)
    : QObject(parent), Urls(std::move(urls)), RetryMs(retryMs) {
  QPointer<TNotifier> self(this);
  Worker = new TPoster(RetryMs, [self](const std::string &url, const std::string &failure, bool test) {
    // Back on the window thread, where the report log is written.
    QMetaObject::invokeMethod(
        self.data(),
        [self, url, failure, test] {
          if (self) self->Done(url, failure, test);
        },
        Qt::QueuedConnection);
  });
  Worker->moveToThread(&Thread);
  connect(&Thread, &QThread::finished, Worker, &QObject::deleteLater);
  Thread.setObjectName("notices");
  Thread.start();
  ListenerId = AddRunListener([this](const TRunEvent &e) {
    const std::string text = NoticeText(e);
    if (!text.empty()) Send(text, e);
  });
}

TNotifier::~TNotifier() {
  RemoveRunListener(ListenerId);
  Thread.quit();
  Thread.wait();
}

std::string TNotifier::NoticeText(const TRunEvent &e) {
  const std::string who = "Kavetra on " + QSysInfo::machineHostName().toStdString();
  if (e.Kind == TRunEventKind::RunEnded)
    return who + ": task \"" + e.Task + "\" ended: " + e.End + (e.Text.empty() ? "" : ". " + e.Text);
  if (e.Kind == TRunEventKind::QuestionAsked) return who + " waits for the operator: " + e.Text;
  return "";
}

std::string TNotifier::Shown(const std::string &url) {
  const QUrl u(QString::fromStdString(url));
  if (!u.isValid() || u.host().isEmpty()) return "(a URL without a host)";
  return u.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
      .toString()
      .toStdString();
}

void TNotifier::Test() {
  RemoveRunListener(ListenerId);
  ListenerId = 0;
  TRunEvent e(TRunEventKind::RunEnded);
  e.End = "test";
  Post("Kavetra on " + QSysInfo::machineHostName().toStdString() + ": a test notice", e, true);
}

void TNotifier::Send(const std::string &text, const TRunEvent &event) { Post(text, event, false); }

void TNotifier::Post(const std::string &text, const TRunEvent &event, bool test) {
  QJsonObject o = RunEventJson(event, WallMs());
  o["text"] = QString::fromStdString(text);
  const QByteArray body = QJsonDocument(o).toJson(QJsonDocument::Compact);
  auto *poster = static_cast<TPoster *>(Worker);
  for (const std::string &u : Urls) {
    const QString url = QString::fromStdString(u);
    QMetaObject::invokeMethod(
        poster, [poster, url, body, test] { poster->Post(url, body, 1, test); }, Qt::QueuedConnection);
  }
}

void TNotifier::Done(const std::string &url, const std::string &failure, bool test) {
  ++EndedCount;
  // Only scheme and host are logged: a webhook's path or user is its secret.
  const std::string what = std::string(test ? "Test notice" : "Notice") + " to " + Shown(url);
  if (failure.empty()) {
    Failing.erase(url);
    if (test) ReportLine(what + " sent");
    return;
  }
  if (test || Failing.insert(url).second)
    ReportLine("*** " + what + " not sent (" + std::to_string(Attempts) + " tries): " + failure);
}
