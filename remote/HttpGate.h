#pragma once
// The door of the remote server: it holds each new connection until its one
// request is complete and well formed, answers bad input itself (400
// malformed, 405 other methods, 413 a body over 64 KiB) and only then hands
// the connection over. One request per connection: after it, anything more
// the client sends aborts the connection, so nothing unscreened is served.
//
// Every wait is bounded: a few connections still sending their head per
// client address (a new one drops that address's oldest), a total of them,
// a time for the head, a total of connections past the door with a time
// for their answer, and refused ones that linger to send their answer.
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QSet>
#include <QTcpServer>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct THttpHead {
  std::string Method, Target;
  std::vector<std::pair<std::string, std::string>> Headers;  // names in lower case
  int HeadSize = 0, BodySize = 0;
  std::string Header(const std::string &lowerName) const;  // "" when absent
  int Count(const std::string &lowerName) const;
};

constexpr int HttpMaxHead = 8 * 1024;
constexpr int HttpMaxBody = 64 * 1024;

// 0: `data` holds exactly one whole, well-formed GET or POST request
// (`head` filled); -1: more bytes are needed; otherwise the status to answer.
int ScreenRequest(const QByteArray &data, THttpHead &head);
const char *HttpReason(int status);
// Whether `head` is a whole WebSocket opening handshake (RFC 6455): GET,
// "Upgrade: websocket", "Connection" naming upgrade, version 13 and a key
// of 16 bytes in base64.
bool IsWebSocketUpgrade(const THttpHead &head);

// The client's address, an IPv4 one as such also on a dual-stack socket.
QHostAddress PeerAddress(const QTcpSocket *socket);

struct THttpLimits {
  int WaitingPerAddress = 4;  // connections still sending their head, from one address
  int MaxWaiting = 64;        // the same, from all addresses
  int HeadTimeoutMs = 3000;   // from the connection to the whole request
  int MaxHandedOver = 64;     // past the door: answers under way and WebSockets
  int AnswerTimeoutMs = 10000;  // a request past the door is answered and its answer sent by then
  int MaxLingering = 64;      // refused connections still sending their answer
  int LingerMs = 2000;
};

class THttpGate : public QTcpServer {
  Q_OBJECT
public:
  explicit THttpGate(const THttpLimits &limits, QObject *parent = nullptr);
  // The server's judgment of a screened request: 0 lets it through.
  std::function<int(const THttpHead &, const QHostAddress &)> Judge;
  // Takes a request let through. A WebSocket upgrade comes with its bytes
  // still to read; other requests have been read. True: the connection
  // lives on (a WebSocket) and its idleness is the taker's to watch.
  std::function<bool(const THttpHead &, QTcpSocket *)> Take;
  // Writes a whole answer, closes once it is sent (`extra`: more header lines).
  static void Answer(QTcpSocket *socket, int status, const QByteArray &type, const QByteArray &body,
                     const QByteArray &extra = {});
  // Answers `status` and drops what the client still sends, within bounds.
  void Refuse(QTcpSocket *socket, int status);
  int WaitingCount() const { return int(Waiting.size()); }
  int HandedOverCount();

protected:
  void incomingConnection(qintptr handle) override;

private:
  void Screen(QTcpSocket *socket);
  void Drop(QTcpSocket *socket);
  void HandOver(QTcpSocket *socket, const THttpHead &head);
  THttpLimits Limits;
  std::deque<QTcpSocket *> Waiting;  // oldest first
  QHash<QTcpSocket *, QHostAddress> WaitingFrom;
  // A WebSocket takes its line's signals: a weak pointer tells when it is gone.
  std::vector<QPointer<QTcpSocket>> Handed;
  QSet<QTcpSocket *> Lingering;
};
