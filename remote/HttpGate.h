#pragma once
// The door in front of Qt's HTTP server: it holds each new connection until
// its one request is complete and well formed, answers bad input itself
// (400 malformed, 405 other methods, 413 a body over 64 KiB) and only then
// hands the connection over. One request per connection: the server closes
// after its answer, so nothing unscreened ever reaches it.
#include <QByteArray>
#include <QHostAddress>
#include <QSet>
#include <QTcpServer>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QTcpSocket;

struct THttpHead {
  std::string Method, Target;
  std::vector<std::pair<std::string, std::string>> Headers;  // names in lower case
  int HeadSize = 0, BodySize = 0;
  std::string Header(const std::string &lowerName) const;  // "" when absent
};

constexpr int HttpMaxHead = 8 * 1024;
constexpr int HttpMaxBody = 64 * 1024;

// 0: `data` holds exactly one whole, well-formed GET or POST request
// (`head` filled); -1: more bytes are needed; otherwise the status to answer.
int ScreenRequest(const QByteArray &data, THttpHead &head);
const char *HttpReason(int status);

class THttpGate : public QTcpServer {
  Q_OBJECT
public:
  static constexpr int MaxWaiting = 32;  // connections still being screened
  static constexpr int ScreenTimeoutMs = 10000;
  explicit THttpGate(QObject *parent = nullptr) : QTcpServer(parent) {}
  // Upgrade requests are not seen by the server's handler: this answers
  // for them (0 lets one through).
  std::function<int(const THttpHead &, const QHostAddress &)> AdmitUpgrade;
  // Writes a whole answer, half-closes, and drops what the client still sends.
  static void Refuse(QTcpSocket *socket, int status);
  // Writes a whole answer and closes once it is sent.
  static void Answer(QTcpSocket *socket, int status, const QByteArray &type, const QByteArray &body);

protected:
  void incomingConnection(qintptr handle) override;

private:
  void Screen(QTcpSocket *socket);
  QSet<QTcpSocket *> Waiting;
};
