#pragma once
// The remote page's server on Qt's HTTP server: the status page, its JSON,
// the run records, the run events over a WebSocket, and STOP. Nothing else
// it serves can change anything.
//
// The server has a thread of its own: every moment the window thread spends
// on a request would lengthen a dip's holds (a wait is 100 ms sleeps and the
// events between them). The window thread only builds the status when asked
// (once for all requests waiting) and runs STOP, both at its next event pump.
#include <QAbstractHttpServer>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "remote/HttpGate.h"
#include "remote/RemoteSettings.h"
#include "remote/RunWatch.h"

class QWebSocket;

// The status page (one file, no outside resources).
const char *StatusPageHtml();

// Lives in the server thread. What it needs of the window thread it asks
// through the two calls it is given, which must post, not run.
class TRemoteHttp : public QAbstractHttpServer {
  Q_OBJECT
public:
  static constexpr int MaxWebSockets = 32;
  static constexpr int RunsListed = 100;
  static constexpr size_t MaxWaiting = 256;  // status requests waiting for the window thread
  struct TAsk {
    std::function<void()> Status;                   // answer with Deliver()
    std::function<void(std::string address)> Stop;  // STOP, from this client
  };
  TRemoteHttp(const TRemoteSettings &settings, std::string recordsFolder, TAsk ask);
  ~TRemoteHttp() override;
  bool Listen(std::string &error);
  quint16 Port() const { return Gate->serverPort(); }
  // The status as built on the window thread; answers every waiting request.
  void Deliver(const QByteArray &status, const QByteArray &full);
  void Publish(const QString &message);
  std::atomic<int> WebSockets{0};

protected:
  bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
  void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
  bool ReadAllowed(const QHttpServerRequest &request) const;
  bool ReadAllowed(const THttpHead &head) const;
  void TakeWebSocket();
  QByteArray RunsJson() const;

  TRemoteSettings Settings;
  std::string Records;
  TAsk Ask;
  THttpGate *Gate;
  struct TWaiting {
    QPointer<QTcpSocket> Socket;
    bool Full;
  };
  std::vector<TWaiting> Waiting;
  QByteArray LastStatus = "{}";
  std::vector<QWebSocket *> Sockets;
};

// The server seen from the window thread, where it is made, started and
// ended: its thread, the status it builds, STOP, the events it passes on.
class TRemoteServer : public QObject {
  Q_OBJECT
public:
  static constexpr int TraceStepMs = 1000;
  // `recordsFolder`: where the run records are (runs/ of the working folder).
  TRemoteServer(TRunWatch &watch, const TRemoteSettings &settings, std::string recordsFolder = "runs");
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
  QThread Thread;
  TRemoteHttp *Http = nullptr;  // lives in Thread
  quint16 ListenPort = 0;
  bool StatusAsked = false;
  QTimer TraceTimer;
  int ListenerId = 0;
};
