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
// Lives in the notifier's thread; its network manager is made there.
class TPoster : public QObject {
public:
  using TDone = std::function<void(const std::string &url, const std::string &failure)>;
  TPoster(int retryMs, TDone done) : RetryMs(retryMs), Done(std::move(done)) {}
  void Post(const QString &url, const QByteArray &body, int attempt) {
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
      else if (reply->error() != QNetworkReply::NoError) failure = reply->errorString().toStdString();
      if (!failure.empty() && attempt < TNotifier::Attempts) {
        QTimer::singleShot(RetryMs, this, [=] { Post(url, body, attempt + 1); });
        return;
      }
      Done(url.toStdString(), failure);
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
  Worker = new TPoster(RetryMs, [self](const std::string &url, const std::string &failure) {
    // Back on the window thread, where the report log is written.
    QMetaObject::invokeMethod(
        self.data(),
        [self, url, failure] {
          if (self) self->Done(url, failure);
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

void TNotifier::Send(const std::string &text, const TRunEvent &event) {
  QJsonObject o = RunEventJson(event, WallMs());
  o["text"] = QString::fromStdString(text);
  const QByteArray body = QJsonDocument(o).toJson(QJsonDocument::Compact);
  auto *poster = static_cast<TPoster *>(Worker);
  for (const std::string &u : Urls) {
    const QString url = QString::fromStdString(u);
    QMetaObject::invokeMethod(
        poster, [poster, url, body] { poster->Post(url, body, 1); }, Qt::QueuedConnection);
  }
}

void TNotifier::Done(const std::string &url, const std::string &failure) {
  ++EndedCount;
  if (failure.empty()) {
    Failing.erase(url);
    return;
  }
  if (Failing.insert(url).second)
    ReportLine("*** Notice to " + url + " not sent (" + std::to_string(Attempts) + " tries): " + failure);
}
