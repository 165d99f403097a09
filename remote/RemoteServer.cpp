#include "remote/RemoteServer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <algorithm>

#include "base/Host.h"
#include "record/RunRecord.h"
#include "tasks/TaskRun.h"

namespace {
// The token a request brings: "Authorization: Bearer ...", the page's
// cookie, or "?token=" of the link that opened the page.
std::string BearerToken(const std::string &authorization) {
  const std::string prefix = "Bearer ";
  return authorization.compare(0, prefix.size(), prefix) == 0 ? authorization.substr(prefix.size()) : "";
}

std::string CookieToken(const std::string &cookies) {
  for (const QString &c : QString::fromStdString(cookies).split(';')) {
    const QString t = c.trimmed();
    if (t.startsWith("kv_token=")) return t.mid(9).toStdString();
  }
  return "";
}

std::string QueryToken(const std::string &target) {
  const QUrl url(QString::fromStdString(target));
  return QUrlQuery(url).queryItemValue("token").toStdString();
}

bool AnyMatches(const std::string &token, std::initializer_list<std::string> given) {
  for (const std::string &g : given)
    if (TokenMatches(token, g)) return true;
  return false;
}

const QByteArray JsonType = "application/json";

void RespondPlain(QTcpSocket *socket, int status) {
  THttpGate::Answer(socket, status, "text/plain; charset=utf-8",
                    QByteArray::number(status) + " " + HttpReason(status) + "\n");
}

QByteArray Json(const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

// A record's name as the list shows it: a plain file name in the records
// folder, nothing that could lead out of it.
bool PlainRecordName(const QString &name) {
  return !name.isEmpty() && !name.startsWith('.') && !name.contains('/') && !name.contains('\\') &&
         !name.contains(QChar(0)) && name.endsWith(".csv");
}

QString LastLine(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  f.seek(std::max<qint64>(0, f.size() - 4096));
  const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
  return lines.isEmpty() ? QString() : QString::fromUtf8(lines.last()).trimmed();
}

QString FirstRow(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  f.readLine(64 * 1024);
  return QString::fromUtf8(f.readLine(64 * 1024)).trimmed();
}
}  // namespace

TRemoteHttp::TRemoteHttp(const TRemoteSettings &settings, std::string recordsFolder, TAsk ask)
    : Settings(settings), Records(std::move(recordsFolder)), Ask(std::move(ask)), Gate(new THttpGate(this)) {
  Gate->AdmitUpgrade = [this](const THttpHead &head, const QHostAddress &) {
    if (QUrl(QString::fromStdString(head.Target)).path() != "/api/events") return 404;
    if (!ReadAllowed(head)) return 401;
    return int(Sockets.size()) < MaxWebSockets ? 0 : 503;
  };
  connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] { TakeWebSocket(); });
}

TRemoteHttp::~TRemoteHttp() {
  for (QWebSocket *s : Sockets) {
    s->disconnect(this);
    s->abort();
    delete s;
  }
}

bool TRemoteHttp::Listen(std::string &error) {
  const QHostAddress where = Settings.Lab ? QHostAddress::Any : QHostAddress::LocalHost;
  if (!Gate->listen(where, quint16(Settings.Port))) {
    error = Gate->errorString().toStdString();
    return false;
  }
  bind(Gate);
  return true;
}

bool TRemoteHttp::ReadAllowed(const QHttpServerRequest &r) const {
  if (!Settings.Lab) return true;
  return AnyMatches(Settings.Token, {BearerToken(r.value("Authorization").toStdString()),
                                     CookieToken(r.value("Cookie").toStdString()),
                                     QueryToken(r.url().toString(QUrl::FullyEncoded).toStdString())});
}

bool TRemoteHttp::ReadAllowed(const THttpHead &h) const {
  if (!Settings.Lab) return true;
  return AnyMatches(Settings.Token, {BearerToken(h.Header("authorization")), CookieToken(h.Header("cookie")),
                                     QueryToken(h.Target)});
}

void TRemoteHttp::missingHandler(const QHttpServerRequest &, QTcpSocket *socket) {
  RespondPlain(socket, 404);
}

bool TRemoteHttp::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
  const QString path = request.url().path(QUrl::FullyDecoded);
  // The upgrade to the event WebSocket (admitted by the gate) comes here
  // too; the socket is the WebSocket's now.
  if (path == "/api/events" && !request.value("Upgrade").isEmpty()) return true;
  const bool get = request.method() == QHttpServerRequest::Method::Get;
  const bool post = request.method() == QHttpServerRequest::Method::Post;
  int status = 0;
  if (path == "/api/stop") {
    if (!post) status = 405;
    else if (!TokenMatches(Settings.Token, BearerToken(request.value("Authorization").toStdString())))
      status = 401;
    else {
      // Runs on the window thread at its next event pump, as a press of STOP.
      Ask.Stop(request.remoteAddress().toString().toStdString());
      THttpGate::Answer(socket, 200, JsonType, Json({{"stop", "sent"}}));
    }
  } else if (!ReadAllowed(request)) {
    status = 401;
  } else if (path == "/" || path == "/api/status" || path == "/api/runs" || path.startsWith("/api/runs/")) {
    if (!get) status = 405;
    else if (path == "/") THttpGate::Answer(socket, 200, "text/html; charset=utf-8", StatusPageHtml());
    else if (path == "/api/status") {
      // Answered when the window thread has built it, once for all waiting.
      if (Waiting.size() >= MaxWaiting) status = 503;
      else {
        if (Waiting.empty()) Ask.Status();
        Waiting.push_back({socket, request.query().hasQueryItem("full")});
      }
    } else if (path == "/api/runs") THttpGate::Answer(socket, 200, JsonType, RunsJson());
    else {
      const QString name = path.mid(QString("/api/runs/").size());
      const QDir dir(QString::fromStdString(Records));
      const QFileInfo file(dir.filePath(name));
      if (!PlainRecordName(name) || QFileInfo(file.absolutePath()).canonicalFilePath() != dir.canonicalPath())
        status = 400;
      else {
        QFile f(file.filePath());
        if (!file.isFile() || !f.open(QIODevice::ReadOnly)) status = 404;
        else THttpGate::Answer(socket, 200, "text/csv; charset=utf-8", f.readAll());
      }
    }
  } else {
    status = 404;
  }
  if (status) RespondPlain(socket, status);
  return true;
}

QByteArray TRemoteHttp::RunsJson() const {
  QDir dir(QString::fromStdString(Records));
  QStringList names = dir.entryList({"*.csv"}, QDir::Files, QDir::Name | QDir::Reversed);
  names.removeIf([](const QString &n) { return n.endsWith(".reads.csv"); });  // a record's position reads
  if (names.size() > RunsListed) names.erase(names.begin() + RunsListed, names.end());
  QJsonArray runs;
  for (const QString &name : names) {
    const QString path = dir.filePath(name);
    const QDateTime start = QDateTime::fromString(name.left(19), "yyyy-MM-dd_hh-mm-ss");
    QJsonObject o{{"name", name},
                  {"start", start.toString("yyyy-MM-dd hh:mm:ss")},
                  {"end", QJsonValue()},
                  {"how", QJsonValue()}};
    TRecordRow row;
    o["task"] =
        ParseRecordRow(FirstRow(path).toStdString(), row) ? QString::fromStdString(row.Task) : QString();
    if (ParseRecordRow(LastLine(path).toStdString(), row) && row.Mode == RecordEnd) {
      o["how"] = QString::fromStdString(row.End);
      if (start.isValid() && row.TopAt >= 0)
        o["end"] = start.addMSecs(row.TopAt).toString("yyyy-MM-dd hh:mm:ss");
    }
    runs.append(o);
  }
  return QJsonDocument(runs).toJson(QJsonDocument::Compact);
}

void TRemoteHttp::Publish(const QString &message) {
  for (QWebSocket *s : Sockets) {
    // A client that does not read is let go rather than buffered without end.
    if (s->bytesToWrite() > 1 << 20) s->abort();
    else s->sendTextMessage(message);
  }
}

void TRemoteHttp::Deliver(const QByteArray &status, const QByteArray &full) {
  LastStatus = status;
  for (const TWaiting &w : Waiting)
    if (w.Socket) THttpGate::Answer(w.Socket, 200, JsonType, w.Full ? full : status);
  Waiting.clear();
}

void TRemoteHttp::TakeWebSocket() {
  while (hasPendingWebSocketConnections()) {
    QWebSocket *s = nextPendingWebSocketConnection().release();
    s->setParent(this);
    Sockets.push_back(s);
    WebSockets = int(Sockets.size());
    connect(s, &QWebSocket::disconnected, this, [this, s] {
      Sockets.erase(std::remove(Sockets.begin(), Sockets.end(), s), Sockets.end());
      WebSockets = int(Sockets.size());
      s->deleteLater();
    });
    // Clients only listen; what they send is dropped.
    s->setMaxAllowedIncomingMessageSize(1024);
    s->sendTextMessage(QString::fromUtf8("{\"event\":\"hello\",\"status\":" + LastStatus + "}"));
  }
}

TRemoteServer::TRemoteServer(TRunWatch &watch, const TRemoteSettings &settings, std::string recordsFolder)
    : Watch(watch), Settings(settings), Records(std::move(recordsFolder)) {
  TraceTimer.setInterval(TraceStepMs);
  connect(&TraceTimer, &QTimer::timeout, this, [this] {
    Watch.SampleZ();
    if (!Watch.Running()) TraceTimer.stop();
  });
  ListenerId = AddRunListener([this](const TRunEvent &e) {
    if (e.Kind == TRunEventKind::RunStarted) TraceTimer.start();
    if (!Http) return;
    const QString message = QString::fromUtf8(Json(RunEventJson(e, WallMs())));
    TRemoteHttp *http = Http;
    QMetaObject::invokeMethod(
        http, [http, message] { http->Publish(message); }, Qt::QueuedConnection);
  });
  Thread.setObjectName("remote");
}

TRemoteServer::~TRemoteServer() {
  RemoveRunListener(ListenerId);
  if (Http) {
    TRemoteHttp *http = Http;
    QMetaObject::invokeMethod(
        http, [http] { delete http; }, Qt::BlockingQueuedConnection);
    Http = nullptr;
  }
  Thread.quit();
  Thread.wait();
}

bool TRemoteServer::Start(std::string &error) {
  Thread.start();
  auto *anchor = new QObject;  // a foothold in the server thread to make the server there
  anchor->moveToThread(&Thread);
  bool ok = false;
  QPointer<TRemoteServer> self(this);
  TRemoteHttp::TAsk ask;
  ask.Status = [self] {
    QMetaObject::invokeMethod(
        self.data(),
        [self] {
          if (self) self->BuildStatus();
        },
        Qt::QueuedConnection);
  };
  ask.Stop = [self](std::string address) {
    QMetaObject::invokeMethod(
        self.data(),
        [address] {
          ReportLine("Remote STOP from " + address);
          StopAll("by remote access");
        },
        Qt::QueuedConnection);
  };
  QMetaObject::invokeMethod(
      anchor,
      [&] {
        anchor->deleteLater();
        auto *http = new TRemoteHttp(Settings, Records, ask);
        ok = http->Listen(error);
        if (ok) {
          Http = http;
          ListenPort = http->Port();
        } else {
          delete http;
        }
      },
      Qt::BlockingQueuedConnection);
  if (ok) BuildStatus();
  return ok;
}

void TRemoteServer::BuildStatus() {
  if (!Http) return;
  const QJsonObject status = Watch.Status();
  QJsonObject full = status;
  full["trace"] = Watch.Trace();
  full["lines"] = Watch.Lines();
  const QByteArray a = Json(status), b = Json(full);
  TRemoteHttp *http = Http;
  QMetaObject::invokeMethod(
      http, [http, a, b] { http->Deliver(a, b); }, Qt::QueuedConnection);
}
