#include "remote/RemoteServer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <cmath>

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

void Respond(QHttpServerResponder &&r, int status, const QByteArray &type, const QByteArray &body) {
  r.writeStatusLine(QHttpServerResponder::StatusCode(status));
  r.writeHeader("Content-Type", type);
  r.writeHeader("Content-Length", QByteArray::number(body.size()));
  r.writeHeader("Cache-Control", "no-store");
  r.writeHeader("Connection", "close");
  r.writeBody(body);
}

void RespondPlain(QHttpServerResponder &&r, int status) {
  Respond(std::move(r), status, "text/plain; charset=utf-8",
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

TRemoteServer::TRemoteServer(TRunWatch &watch, const TRemoteSettings &settings, std::string recordsFolder,
                             QObject *parent)
    : QAbstractHttpServer(parent),
      Watch(watch),
      Settings(settings),
      Records(std::move(recordsFolder)),
      Gate(new THttpGate(this)) {
  Gate->AdmitUpgrade = [this](const THttpHead &head, const QHostAddress &) {
    if (QUrl(QString::fromStdString(head.Target)).path() != "/api/events") return 404;
    if (!ReadAllowed(head)) return 401;
    return int(Sockets.size()) < MaxWebSockets ? 0 : 503;
  };
  connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] { TakeWebSocket(); });
  TraceTimer.setInterval(TraceStepMs);
  connect(&TraceTimer, &QTimer::timeout, this, [this] {
    Watch.SampleZ();
    if (!Watch.Running()) TraceTimer.stop();
  });
  ListenerId = AddRunListener([this](const TRunEvent &e) { Publish(e); });
}

TRemoteServer::~TRemoteServer() {
  RemoveRunListener(ListenerId);
  for (QWebSocket *s : Sockets) {
    s->disconnect(this);
    s->abort();
    s->deleteLater();
  }
}

bool TRemoteServer::Start(std::string &error) {
  const QHostAddress where = Settings.Lab ? QHostAddress::Any : QHostAddress::LocalHost;
  if (!Gate->listen(where, quint16(Settings.Port))) {
    error = Gate->errorString().toStdString();
    return false;
  }
  bind(Gate);
  return true;
}

quint16 TRemoteServer::Port() const { return Gate->serverPort(); }

bool TRemoteServer::ReadAllowed(const QHttpServerRequest &r) const {
  if (!Settings.Lab) return true;
  return AnyMatches(Settings.Token, {BearerToken(r.value("Authorization").toStdString()),
                                     CookieToken(r.value("Cookie").toStdString()),
                                     QueryToken(r.url().toString(QUrl::FullyEncoded).toStdString())});
}

bool TRemoteServer::ReadAllowed(const THttpHead &h) const {
  if (!Settings.Lab) return true;
  return AnyMatches(Settings.Token, {BearerToken(h.Header("authorization")), CookieToken(h.Header("cookie")),
                                     QueryToken(h.Target)});
}

void TRemoteServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) {
  RespondPlain(makeResponder(request, socket), 404);
  socket->disconnectFromHost();
}

bool TRemoteServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
  const QString path = request.url().path(QUrl::FullyDecoded);
  // The upgrade to the event WebSocket (admitted by the gate) comes here
  // too; the socket is the WebSocket's now.
  if (path == "/api/events" && !request.value("Upgrade").isEmpty()) return true;
  const bool get = request.method() == QHttpServerRequest::Method::Get;
  const bool post = request.method() == QHttpServerRequest::Method::Post;
  const QByteArray json = "application/json";
  int status = 0;
  if (path == "/api/stop") {
    if (!post) status = 405;
    else if (!TokenMatches(Settings.Token, BearerToken(request.value("Authorization").toStdString())))
      status = 401;
    else {
      // What the STOP on the screen does; we are on the window thread.
      ReportLine("Remote STOP from " + request.remoteAddress().toString().toStdString());
      StopAll();
      Respond(makeResponder(request, socket), 200, json,
              Json({{"stop", "sent"}, {"state", QString::fromStdString(RemoteStateName(false))}}));
    }
  } else if (!ReadAllowed(request)) {
    status = 401;
  } else if (path == "/" || path == "/api/status" || path == "/api/runs" || path.startsWith("/api/runs/")) {
    if (!get) status = 405;
    else if (path == "/")
      Respond(makeResponder(request, socket), 200, "text/html; charset=utf-8", StatusPageHtml());
    else if (path == "/api/status") {
      QJsonObject o = Watch.Status();
      if (request.query().hasQueryItem("full")) {
        o["trace"] = Watch.Trace();
        o["lines"] = Watch.Lines();
      }
      Respond(makeResponder(request, socket), 200, json, Json(o));
    } else if (path == "/api/runs") Respond(makeResponder(request, socket), 200, json, RunsJson());
    else {
      const QString name = path.mid(QString("/api/runs/").size());
      const QDir dir(QString::fromStdString(Records));
      const QFileInfo file(dir.filePath(name));
      if (!PlainRecordName(name) || QFileInfo(file.absolutePath()).canonicalFilePath() != dir.canonicalPath())
        status = 400;
      else {
        QFile f(file.filePath());
        if (!file.isFile() || !f.open(QIODevice::ReadOnly)) status = 404;
        else Respond(makeResponder(request, socket), 200, "text/csv; charset=utf-8", f.readAll());
      }
    }
  } else {
    status = 404;
  }
  if (status) RespondPlain(makeResponder(request, socket), status);
  socket->disconnectFromHost();
  return true;
}

QByteArray TRemoteServer::RunsJson() const {
  QDir dir(QString::fromStdString(Records));
  QStringList names = dir.entryList({"*.csv"}, QDir::Files, QDir::Name | QDir::Reversed);
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

void TRemoteServer::Publish(const TRunEvent &e) {
  if (e.Kind == TRunEventKind::RunStarted) TraceTimer.start();
  const QString text = QString::fromUtf8(Json(RunEventJson(e, WallMs())));
  for (QWebSocket *s : Sockets) {
    // A client that does not read is let go rather than buffered without end.
    if (s->bytesToWrite() > 1 << 20) s->abort();
    else s->sendTextMessage(text);
  }
}

void TRemoteServer::TakeWebSocket() {
  while (hasPendingWebSocketConnections()) {
    QWebSocket *s = nextPendingWebSocketConnection().release();
    s->setParent(this);
    Sockets.push_back(s);
    connect(s, &QWebSocket::disconnected, this, [this, s] {
      Sockets.erase(std::remove(Sockets.begin(), Sockets.end(), s), Sockets.end());
      s->deleteLater();
    });
    // Clients only listen; what they send is dropped.
    s->setMaxAllowedIncomingMessageSize(1024);
    s->sendTextMessage(QString::fromUtf8(Json({{"event", "hello"}, {"status", Watch.Status()}})));
  }
}
