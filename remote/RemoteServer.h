#pragma once
// The remote page's server: the status page, its JSON, the run records, the
// run events over a WebSocket (Qt's WebSocket server takes the upgrades the
// door lets through), and STOP. Nothing else it serves can change anything.
//
// The server has a thread of its own: every moment the window thread spends
// on a request would lengthen a dip's holds (a wait is 100 ms sleeps and the
// events between them). The window thread only builds the status when asked
// (once for all requests waiting) and runs STOP, both at its next event pump.
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTcpSocket>
#include <QTimer>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "remote/HttpGate.h"
#include "remote/RemoteSettings.h"
#include "remote/RequestJudge.h"
#include "remote/RunWatch.h"

class QWebSocket;
class QWebSocketServer;

// The status page (one file, no outside resources).
const char *StatusPageHtml();

struct TRemoteLimits : THttpLimits {
  int MaxWebSockets = 32;  // upgrades under way count
  int PingMs = 10000;      // a WebSocket silent for two pings goes
  int RefusalLogMs = 60000;  // a refused address is logged once in this time
};

// Lives in the server thread. What it needs of the window thread it asks
// through the calls it is given, which must post, not run.
class TRemoteHttp : public QObject {
  Q_OBJECT
public:
  static constexpr int RunsListed = 100;
  struct TAsk {
    std::function<void()> Status;                   // answer with Deliver()
    std::function<void(std::string address)> Stop;  // STOP, from this client
    std::function<void(std::string line)> Log;      // a report line
  };
  TRemoteHttp(const TRemoteSettings &settings, std::string recordsFolder, TAsk ask, const TRemoteLimits &limits);
  ~TRemoteHttp() override;
  bool Listen(std::string &error);
  quint16 Port() const { return Gate->serverPort(); }
  // The status as built on the window thread; answers every waiting request.
  void Deliver(const QByteArray &status, const QByteArray &full);
  void Publish(const QString &message);
  std::atomic<int> WebSockets{0};

private:
  int Judge(const THttpHead &head, const QHostAddress &from);
  bool Take(const THttpHead &head, QTcpSocket *socket);
  void Serve(const TVerdict &v, QTcpSocket *socket);
  void TakeWebSocket();
  void Ping();
  QByteArray RunsJson() const;

  TRemoteSettings Settings;
  TAccess Access;
  std::string Records;
  TAsk Ask;
  TRemoteLimits Limits;
  THttpGate *Gate;
  QWebSocketServer *WsServer;
  std::vector<QPointer<QTcpSocket>> Upgrades;  // the lines of WebSockets and of upgrades under way
  struct TWaiting {
    QPointer<QTcpSocket> Socket;
    bool Full;
  };
  std::vector<TWaiting> Waiting;
  QByteArray LastStatus = "{}";
  std::vector<QWebSocket *> Sockets;
  QHash<QWebSocket *, qint64> Heard;  // when each WebSocket last answered
  QHash<QString, qint64> RefusedLogged;
  QElapsedTimer Clock;
  QTimer PingTimer;
};

// The server seen from the window thread, where it is made, started and
// ended: its thread, the status it builds, STOP, the events it passes on.
class TRemoteServer : public QObject {
  Q_OBJECT
public:
  static constexpr int TraceStepMs = 1000;
  // `recordsFolder`: where the run records are (runs/ of the working folder).
  TRemoteServer(TRunWatch &watch, const TRemoteSettings &settings, std::string recordsFolder = "runs",
                const TRemoteLimits &limits = {});
  ~TRemoteServer() override;
  // Listens on the settings' port; false with a reason when it cannot.
  bool Start(std::string &error);
  quint16 Port() const { return ListenPort; }
  int WebSocketCount() const { return Http ? Http->WebSockets.load() : 0; }

private:
  void BuildStatus();
  TRunWatch &Watch;
  TRemoteSettings Settings;
  std::string Records;
  TRemoteLimits Limits;
  QThread Thread;
  TRemoteHttp *Http = nullptr;  // lives in Thread
  quint16 ListenPort = 0;
  bool StatusAsked = false;
  QTimer TraceTimer;
  int ListenerId = 0;
};
