#include "remote/HttpGate.h"

#include <algorithm>

#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool IsToken(const QByteArray &s) {
  if (s.isEmpty()) return false;
  for (char c : s)
    if (c <= ' ' || c >= 127 || std::string("()<>@,;:\\\"/[]?={}").find(c) != std::string::npos) return false;
  return true;
}

// 400 unless the request line is "METHOD /target HTTP/1.x".
int ScreenRequestLine(const QByteArray &line, THttpHead &head) {
  const QList<QByteArray> parts = line.split(' ');
  if (parts.size() != 3 || !IsToken(parts[0]) || !parts[1].startsWith('/')) return 400;
  if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") return 400;
  for (char c : parts[1])
    if (c <= ' ' || c >= 127) return 400;
  head.Method = parts[0].toStdString();
  head.Target = parts[1].toStdString();
  return 0;
}
}  // namespace

std::string THttpHead::Header(const std::string &lowerName) const {
  for (const auto &h : Headers)
    if (h.first == lowerName) return h.second;
  return "";
}

int THttpHead::Count(const std::string &lowerName) const {
  int n = 0;
  for (const auto &h : Headers) n += h.first == lowerName;
  return n;
}

const char *HttpReason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 503: return "Service Unavailable";
  }
  return "Error";
}

int ScreenRequest(const QByteArray &data, THttpHead &head) {
  head = THttpHead();
  // The request line is judged as soon as it is there, so garbage gets its
  // answer without waiting for a head that will never end.
  const int firstEnd = data.indexOf('\n');
  if (firstEnd < 0) return data.size() > HttpMaxHead ? 400 : -1;
  if (firstEnd == 0 || data[firstEnd - 1] != '\r') return 400;
  if (ScreenRequestLine(data.left(firstEnd - 1), head)) return 400;
  const int end = data.indexOf("\r\n\r\n");
  if (end < 0) return data.size() > HttpMaxHead ? 400 : -1;
  if (end + 4 > HttpMaxHead) return 400;
  const QList<QByteArray> lines = data.left(end + 2).split('\n');
  long long length = -1;
  for (int i = 1; i + 1 < lines.size(); ++i) {  // the last is empty
    QByteArray l = lines[i];
    if (!l.endsWith('\r')) return 400;
    l.chop(1);
    const int colon = l.indexOf(':');
    if (colon <= 0 || !IsToken(l.left(colon))) return 400;
    for (char c : l)
      if ((c < ' ' && c != '\t') || c == 127) return 400;
    const std::string name = l.left(colon).toLower().toStdString();
    const std::string value = l.mid(colon + 1).trimmed().toStdString();
    if (name == "transfer-encoding") return 400;  // bodies come with a length
    if (name == "content-length") {
      if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
        return 400;
      const long long v = std::stoll(value);
      if (length >= 0 && v != length) return 400;
      length = v;
    }
    head.Headers.emplace_back(name, value);
  }
  if (length > HttpMaxBody) return 413;
  if (head.Method != "GET" && head.Method != "POST") return 405;
  head.HeadSize = end + 4;
  head.BodySize = length < 0 ? 0 : int(length);
  const int whole = head.HeadSize + head.BodySize;
  if (data.size() < whole) return -1;
  return data.size() == whole ? 0 : 400;  // a second request on the same line is not served
}

bool IsWebSocketUpgrade(const THttpHead &h) {
  if (h.Method != "GET" || h.BodySize || h.Count("upgrade") != 1 || h.Count("sec-websocket-key") != 1) return false;
  if (QByteArray::fromStdString(h.Header("upgrade")).toLower() != "websocket") return false;
  if (h.Header("sec-websocket-version") != "13") return false;
  bool upgrade = false;
  for (const QByteArray &t : QByteArray::fromStdString(h.Header("connection")).split(','))
    upgrade = upgrade || t.trimmed().toLower() == "upgrade";
  const QByteArray key = QByteArray::fromStdString(h.Header("sec-websocket-key"));
  const auto decoded = QByteArray::fromBase64Encoding(key, QByteArray::AbortOnBase64DecodingErrors);
  return upgrade && key.size() == 24 && decoded && decoded.decoded.size() == 16;
}

QHostAddress PeerAddress(const QTcpSocket *s) {
  bool v4 = false;
  const quint32 a = s->peerAddress().toIPv4Address(&v4);  // "::ffff:1.2.3.4" of a dual-stack socket
  return v4 ? QHostAddress(a) : s->peerAddress();
}

namespace {
void WriteAnswer(QTcpSocket *s, int status, const QByteArray &type, const QByteArray &body,
                 const QByteArray &extra) {
  s->write("HTTP/1.1 " + QByteArray::number(status) + " " + HttpReason(status) + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           (status == 401 ? "\r\nWWW-Authenticate: Bearer" : "") +
           "\r\nCache-Control: no-store\r\nX-Frame-Options: DENY\r\nX-Content-Type-Options: nosniff"
           "\r\nReferrer-Policy: no-referrer\r\nContent-Security-Policy: default-src 'none'; "
           "script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; img-src 'self'; "
           "frame-ancestors 'none'; base-uri 'none'; form-action 'none'\r\n" +
           extra + "Connection: close\r\n\r\n" + body);
}
}  // namespace

THttpGate::THttpGate(const THttpLimits &limits, QObject *parent) : QTcpServer(parent), Limits(limits) {}

int THttpGate::HandedOverCount() {
  Handed.erase(std::remove(Handed.begin(), Handed.end(), nullptr), Handed.end());
  return int(Handed.size());
}

void THttpGate::Answer(QTcpSocket *s, int status, const QByteArray &type, const QByteArray &body,
                       const QByteArray &extra) {
  WriteAnswer(s, status, type, body, extra);
  s->disconnectFromHost();
}

void THttpGate::Refuse(QTcpSocket *s, int status) {
  WriteAnswer(s, status, "text/plain; charset=utf-8", QByteArray::number(status) + " " + HttpReason(status) + "\n",
              {});
  QObject::disconnect(s, &QTcpSocket::readyRead, nullptr, nullptr);
  s->flush();
  if (Lingering.size() >= Limits.MaxLingering) {  // a flood of bad requests: no time for each
    s->abort();
    s->deleteLater();
    return;
  }
  // Closing with unread input would reset the line and could lose the
  // answer: send it, close our side, and drop the rest until the client goes.
  Lingering.insert(s);
  QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll(); });
  auto shut = [s] {
    if (s->bytesToWrite() == 0 && s->socketDescriptor() >= 0) ::shutdown(int(s->socketDescriptor()), SHUT_WR);
  };
  QObject::connect(s, &QTcpSocket::bytesWritten, s, shut);
  shut();
  QTimer::singleShot(Limits.LingerMs, s, [s] { s->abort(); });
}

void THttpGate::Drop(QTcpSocket *s) {
  Waiting.erase(std::find(Waiting.begin(), Waiting.end(), s));
  WaitingFrom.remove(s);
  s->abort();
  s->deleteLater();
}

void THttpGate::incomingConnection(qintptr handle) {
  auto *s = new QTcpSocket(this);
  if (!s->setSocketDescriptor(handle)) {
    ::close(int(handle));
    delete s;
    return;
  }
  connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
  connect(s, &QObject::destroyed, this, [this, s] {
    if (WaitingFrom.remove(s)) Waiting.erase(std::find(Waiting.begin(), Waiting.end(), s));
    Lingering.remove(s);
  });
  // New connections are never refused for those still waiting: the oldest
  // waiting one of the same address goes, or the oldest of all; but one
  // whose request has come meanwhile is judged, not dropped.
  const QHostAddress from = PeerAddress(s);
  for (int tries = 0;; ++tries) {
    QTcpSocket *oldest = nullptr;
    int same = 0;
    for (QTcpSocket *w : Waiting)
      if (WaitingFrom.value(w) == from && !same++) oldest = w;
    if (same < Limits.WaitingPerAddress) oldest = int(Waiting.size()) < Limits.MaxWaiting ? nullptr : Waiting.front();
    if (!oldest) break;
    if (tries >= 2 * Limits.MaxWaiting || !oldest->waitForReadyRead(0)) Drop(oldest);  // reads what is there, no wait
  }
  Waiting.push_back(s);
  WaitingFrom.insert(s, from);
  connect(s, &QTcpSocket::readyRead, this, [this, s] { Screen(s); });
  QTimer::singleShot(Limits.HeadTimeoutMs, s, [this, s] {
    if (!WaitingFrom.remove(s)) return;
    Waiting.erase(std::find(Waiting.begin(), Waiting.end(), s));
    Refuse(s, 408);
  });
  s->waitForReadyRead(0);  // a request already there is judged at once, before others can crowd it out
}

void THttpGate::Screen(QTcpSocket *s) {
  if (!WaitingFrom.contains(s)) return;
  THttpHead head;
  const QByteArray data = s->peek(HttpMaxHead + HttpMaxBody + 1);
  int status = ScreenRequest(data, head);
  if (status < 0) return;
  WaitingFrom.remove(s);
  Waiting.erase(std::find(Waiting.begin(), Waiting.end(), s));
  if (!status && Judge) status = Judge(head, PeerAddress(s));
  if (!status && HandedOverCount() >= Limits.MaxHandedOver) status = 503;
  if (status) Refuse(s, status);
  else HandOver(s, head);
}

void THttpGate::HandOver(QTcpSocket *s, const THttpHead &head) {
  disconnect(s, &QTcpSocket::readyRead, this, nullptr);
  Handed.push_back(s);
  if (!IsWebSocketUpgrade(head)) {
    s->read(head.HeadSize + head.BodySize);
    // One request per connection: a second one is not served but cut.
    connect(s, &QTcpSocket::readyRead, s, [s] { s->abort(); });
  }
  if (Take && Take(head, s)) return;
  QTimer::singleShot(Limits.AnswerTimeoutMs, s, [s] { s->abort(); });
}
