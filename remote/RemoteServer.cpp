#include "remote/RemoteServer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>

#include "base/Host.h"
#include "record/RunRecord.h"
#include "tasks/TaskRun.h"

namespace {
const QByteArray JsonType = "application/json";

void RespondPlain(QTcpSocket *socket, int status) {
  THttpGate::Answer(socket, status, "text/plain; charset=utf-8",
                    QByteArray::number(status) + " " + HttpReason(status) + "\n");
}

QByteArray Json(const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

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

TRemoteHttp::TRemoteHttp(const TRemoteSettings &settings, std::string recordsFolder, TAsk ask,
                         const TRemoteLimits &limits)
    : Settings(settings),
      Access{settings.Lab, 0, settings.ReadToken, settings.Token},
      Records(std::move(recordsFolder)),
      Ask(std::move(ask)),
      Limits(limits),
      Gate(new THttpGate(limits, this)),
      WsServer(new QWebSocketServer("Kavetra", QWebSocketServer::NonSecureMode, this)) {
  Gate->Judge = [this](const THttpHead &head, const QHostAddress &from) { return Judge(head, from); };
  Gate->Take = [this](const THttpHead &head, QTcpSocket *socket) { return Take(head, socket); };
  WsServer->setMaxPendingConnections(limits.MaxWebSockets);
  WsServer->setHandshakeTimeout(limits.AnswerTimeoutMs);
  connect(WsServer, &QWebSocketServer::newConnection, this, [this] { TakeWebSocket(); });
  Clock.start();
  PingTimer.setInterval(limits.PingMs);
  connect(&PingTimer, &QTimer::timeout, this, [this] { Ping(); });
}

TRemoteHttp::~TRemoteHttp() {
  for (QWebSocket *s : Sockets) {
    s->disconnect(this);
    s->abort();
    delete s;
  }
}

bool TRemoteHttp::Listen(std::string &error) {
  // Lab: every IPv4 and IPv6 address (the dialog lists them); local: 127.0.0.1.
  const QHostAddress where = Settings.Lab ? QHostAddress::Any : QHostAddress::LocalHost;
  if (!Gate->listen(where, quint16(Settings.Port))) {
    error = Gate->errorString().toStdString();
    return false;
  }
  Access.Port = Gate->serverPort();
  return true;
}

int TRemoteHttp::Judge(const THttpHead &head, const QHostAddress &from) {
  const TVerdict v = JudgeRequest(head, Access);
  if (v.Status == 401 || v.Status == 403) {
    // Logged, but once a minute per address: a flood must not flood the log.
    const QString address = from.toString();
    const auto last = RefusedLogged.constFind(address);
    const qint64 now = Clock.elapsed();
    if (last == RefusedLogged.cend() || now - *last >= Limits.RefusalLogMs) {
      if (RefusedLogged.size() > 1000) RefusedLogged.clear();
      RefusedLogged[address] = now;
      Ask.Log("Remote access refused to " + address.toStdString() + ": " + head.Method + " " + v.Path + " (" +
              std::to_string(v.Status) + ")");
    }
  }
  if (v.Status) return v.Status;
  // Counted from the hand-over (the WebSocket takes the line's signals, so
  // a weak pointer tells when it is gone), so a burst gets exactly the limit.
  Upgrades.erase(std::remove(Upgrades.begin(), Upgrades.end(), nullptr), Upgrades.end());
  if (v.Route == TRoute::Events && int(Upgrades.size()) >= Limits.MaxWebSockets) return 503;
  return 0;
}

bool TRemoteHttp::Take(const THttpHead &head, QTcpSocket *socket) {
  const TVerdict v = JudgeRequest(head, Access);
  if (v.Route != TRoute::Events) {
    Serve(v, socket);
    return false;
  }
  Upgrades.push_back(socket);
  WsServer->handleConnection(socket);
  return true;
}

void TRemoteHttp::Serve(const TVerdict &v, QTcpSocket *socket) {
  switch (v.Route) {
    case TRoute::Stop:
      // Runs on the window thread at its next event pump, as a press of STOP.
      Ask.Stop(PeerAddress(socket).toString().toStdString());
      THttpGate::Answer(socket, 200, JsonType, Json({{"stop", "sent"}}));
      return;
    case TRoute::Page: THttpGate::Answer(socket, 200, "text/html; charset=utf-8", StatusPageHtml()); return;
    case TRoute::Status:
      // Answered when the window thread has built it, once for all waiting.
      if (Waiting.empty()) Ask.Status();
      Waiting.push_back({socket, v.Full});
      return;
    case TRoute::Runs: THttpGate::Answer(socket, 200, JsonType, RunsJson()); return;
    case TRoute::Version:
      THttpGate::Answer(socket, 200, JsonType,
                        Json({{"program", "Kavetra"},
                              {"version", KV_PROGRAM_VERSION},
                              {"schema", RemoteSchemaVersion}}));
      return;
    case TRoute::RunFile: {
      // A plain name in the records folder, and no link that leads elsewhere.
      const QDir dir(QString::fromStdString(Records));
      const QFileInfo file(dir.filePath(QString::fromStdString(v.Name)));
      QFile f(file.filePath());
      if (file.isSymLink() || !file.isFile() || !f.open(QIODevice::ReadOnly)) RespondPlain(socket, 404);
      else THttpGate::Answer(socket, 200, "text/csv; charset=utf-8", f.readAll());
      return;
    }
    case TRoute::Events:
    case TRoute::None: break;
  }
  RespondPlain(socket, 404);
}

QByteArray TRemoteHttp::RunsJson() const {
  QDir dir(QString::fromStdString(Records));
  QStringList names = dir.entryList({"*.csv"}, QDir::Files | QDir::NoSymLinks, QDir::Name | QDir::Reversed);
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
  const std::vector<QWebSocket *> sockets = Sockets;  // an abort takes one out at once
  for (QWebSocket *s : sockets) {
    // A client that does not read is let go rather than buffered without end.
    if (s->bytesToWrite() > 1 << 20) s->abort();
    else s->sendTextMessage(message);
  }
}

void TRemoteHttp::Deliver(const QByteArray &status, const QByteArray &full) {
  LastStatus = status;
  for (const TWaiting &w : Waiting)
    if (w.Socket && w.Socket->state() == QAbstractSocket::ConnectedState)
      THttpGate::Answer(w.Socket, 200, JsonType, w.Full ? full : status);
  Waiting.clear();
}

void TRemoteHttp::TakeWebSocket() {
  while (WsServer->hasPendingConnections()) {
    QWebSocket *s = WsServer->nextPendingConnection();
    s->setParent(this);
    // The WebSocket leaves its line to whoever made it: it goes after it.
    for (const QPointer<QTcpSocket> &t : Upgrades)
      if (t && t->peerPort() == s->peerPort() && t->peerAddress() == s->peerAddress())
        connect(s, &QObject::destroyed, t, &QObject::deleteLater);
    Sockets.push_back(s);
    Heard[s] = Clock.elapsed();
    WebSockets = int(Sockets.size());
    connect(s, &QWebSocket::disconnected, this, [this, s] {
      Sockets.erase(std::remove(Sockets.begin(), Sockets.end(), s), Sockets.end());
      Heard.remove(s);
      WebSockets = int(Sockets.size());
      s->deleteLater();
    });
    // Clients only listen; what they send is dropped, but it shows they live.
    s->setMaxAllowedIncomingMessageSize(1024);
    s->setMaxAllowedIncomingFrameSize(1024);
    auto heard = [this, s] { Heard[s] = Clock.elapsed(); };
    connect(s, &QWebSocket::pong, this, heard);
    connect(s, &QWebSocket::textMessageReceived, this, heard);
    connect(s, &QWebSocket::binaryMessageReceived, this, heard);
    s->sendTextMessage(QString::fromUtf8("{\"event\":\"hello\",\"status\":" + LastStatus + "}"));
    if (!PingTimer.isActive()) PingTimer.start();
  }
}

void TRemoteHttp::Ping() {
  const qint64 now = Clock.elapsed();
  const std::vector<QWebSocket *> sockets = Sockets;  // an abort takes one out at once
  for (QWebSocket *s : sockets) {
    if (now - Heard.value(s) > 2 * Limits.PingMs) s->abort();  // silent: gone, or a half-open line
    else s->ping();
  }
  if (Sockets.empty()) PingTimer.stop();
}

TRemoteServer::TRemoteServer(TRunWatch &watch, const TRemoteSettings &settings, std::string recordsFolder,
                             const TRemoteLimits &limits)
    : Watch(watch), Settings(settings), Records(std::move(recordsFolder)), Limits(limits) {
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
  ask.Log = [self](std::string line) {
    QMetaObject::invokeMethod(
        self.data(), [line] { ReportLine(line); }, Qt::QueuedConnection);
  };
  QMetaObject::invokeMethod(
      anchor,
      [&] {
        anchor->deleteLater();
        auto *http = new TRemoteHttp(Settings, Records, ask, Limits);
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
