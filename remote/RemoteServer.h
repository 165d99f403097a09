#pragma once
// The remote page's server on Qt's HTTP server: the status page, its JSON,
// the run records, the run events over a WebSocket, and STOP. Nothing else
// it serves can change anything. Lives on the window thread.
#include <QAbstractHttpServer>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "remote/HttpGate.h"
#include "remote/RemoteSettings.h"
#include "remote/RunWatch.h"

class QWebSocket;

// The status page (one file, no outside resources).
const char *StatusPageHtml();

class TRemoteServer : public QAbstractHttpServer {
  Q_OBJECT
public:
  static constexpr int MaxWebSockets = 32;
  static constexpr int TraceStepMs = 1000;
  static constexpr int RunsListed = 100;

  // `recordsFolder`: where the run records are (runs/ of the working folder).
  TRemoteServer(TRunWatch &watch, const TRemoteSettings &settings, std::string recordsFolder = "runs",
                QObject *parent = nullptr);
  ~TRemoteServer() override;
  // Listens on the settings' port; false with a reason when it cannot.
  bool Start(std::string &error);
  quint16 Port() const;
  int WebSocketCount() const { return int(Sockets.size()); }

protected:
  bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
  void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
  bool ReadAllowed(const QHttpServerRequest &request) const;
  bool ReadAllowed(const THttpHead &head) const;
  void Publish(const TRunEvent &event);
  void TakeWebSocket();
  QByteArray RunsJson() const;

  TRunWatch &Watch;
  TRemoteSettings Settings;
  std::string Records;
  THttpGate *Gate;
  QTimer TraceTimer;
  std::vector<QWebSocket *> Sockets;
  int ListenerId = 0;
};
