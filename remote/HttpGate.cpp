#include "remote/HttpGate.h"

#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

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

const char *HttpReason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
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

namespace {
void WriteAnswer(QTcpSocket *s, int status, const QByteArray &type, const QByteArray &body) {
  s->write("HTTP/1.1 " + QByteArray::number(status) + " " + HttpReason(status) + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body);
}
}  // namespace

void THttpGate::Answer(QTcpSocket *s, int status, const QByteArray &type, const QByteArray &body) {
  WriteAnswer(s, status, type, body);
  s->disconnectFromHost();
}

void THttpGate::Refuse(QTcpSocket *s, int status) {
  WriteAnswer(s, status, "text/plain; charset=utf-8",
              QByteArray::number(status) + " " + HttpReason(status) + "\n");
  // Closing with unread input would reset the line and could lose the
  // answer: send it, close our side, and drop the rest until the client goes.
  QObject::disconnect(s, &QTcpSocket::readyRead, nullptr, nullptr);
  QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll(); });
  auto shut = [s] {
    if (s->bytesToWrite() == 0 && s->socketDescriptor() >= 0) ::shutdown(int(s->socketDescriptor()), SHUT_WR);
  };
  QObject::connect(s, &QTcpSocket::bytesWritten, s, shut);
  s->flush();
  shut();
  QTimer::singleShot(2000, s, [s] { s->abort(); });
}

void THttpGate::incomingConnection(qintptr handle) {
  auto *s = new QTcpSocket(this);
  if (!s->setSocketDescriptor(handle)) {
    delete s;
    return;
  }
  connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
  if (Waiting.size() >= MaxWaiting) {
    Refuse(s, 503);
    return;
  }
  Waiting.insert(s);
  connect(s, &QObject::destroyed, this, [this, s] { Waiting.remove(s); });
  connect(s, &QTcpSocket::readyRead, this, [this, s] { Screen(s); });
  QTimer::singleShot(ScreenTimeoutMs, s, [this, s] {
    if (Waiting.remove(s)) Refuse(s, 408);
  });
}

void THttpGate::Screen(QTcpSocket *s) {
  if (!Waiting.contains(s)) return;
  THttpHead head;
  const QByteArray data = s->peek(HttpMaxHead + HttpMaxBody + 1);
  int status = ScreenRequest(data, head);
  if (status < 0) return;
  if (status == 0 && !head.Header("upgrade").empty() && AdmitUpgrade)
    status = AdmitUpgrade(head, s->peerAddress());
  Waiting.remove(s);
  if (status) {
    Refuse(s, status);
    return;
  }
  // The server takes it from here; it reads what waits when told so.
  disconnect(s, nullptr, this, nullptr);
  addPendingConnection(s);
  emit newConnection();
  emit s->readyRead();
}
