#include "remote/RequestJudge.h"

#include <QUrl>
#include <QUrlQuery>

#include "remote/RemoteSettings.h"

namespace {
bool SameText(const std::string &a, const std::string &b) {
  return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

bool LocalHost(const std::string &host, int port) {
  const std::string p = ":" + std::to_string(port);
  for (const char *name : {"127.0.0.1", "localhost", "[::1]"})
    if (SameText(host, name + p)) return true;
  return false;
}

// A record's name as the list shows it: a plain file name in the records
// folder, nothing that could lead out of it.
bool PlainRecordName(const QString &name) {
  return !name.isEmpty() && !name.startsWith('.') && !name.contains('/') && !name.contains('\\') &&
         !name.contains(QChar(0)) && name.endsWith(".csv");
}
}  // namespace

std::string BearerToken(const std::string &authorization) {
  const size_t blank = authorization.find(' ');
  if (blank == std::string::npos || !SameText(authorization.substr(0, blank), "bearer")) return "";
  const size_t from = authorization.find_first_not_of(' ', blank);
  return from == std::string::npos ? "" : authorization.substr(from);
}

TVerdict JudgeRequest(const THttpHead &head, const TAccess &access) {
  TVerdict v;
  const QUrl url(QString::fromStdString(head.Target));
  const QString path = url.path(QUrl::FullyDecoded);
  v.Path = url.path(QUrl::FullyEncoded).left(80).toStdString();  // encoded: no line break reaches the log
  for (const char *once : {"host", "origin", "authorization", "upgrade"})
    if (head.Count(once) > 1) return v.Status = 400, v;
  const std::string host = head.Header("host");
  if (!access.Lab && !LocalHost(host, access.Port)) return v.Status = 403, v;
  if (head.Count("origin") && !SameText(head.Header("origin"), "http://" + host)) return v.Status = 403, v;
  const std::string bearer = BearerToken(head.Header("authorization"));
  const bool control = TokenMatches(access.ControlToken, bearer);
  if (path == "/api/stop") {
    if (head.Method != "POST") v.Status = 405;
    else if (!control) v.Status = 401;
    else v.Route = TRoute::Stop;
    return v;
  }
  const QUrlQuery query(url);
  const std::string given = query.queryItemValue("token", QUrl::FullyDecoded).toStdString();
  const bool read = !access.Lab || control || TokenMatches(access.ReadToken, bearer) ||
                    TokenMatches(access.ReadToken, given);
  if (!read) return v.Status = 401, v;
  const bool upgrade = head.Count("upgrade") > 0;
  if (path == "/api/events") {
    if (!IsWebSocketUpgrade(head)) v.Status = 400;
    else v.Route = TRoute::Events;
    return v;
  }
  if (upgrade) return v.Status = 400, v;
  const QString runs = "/api/runs/";
  if (path == "/") v.Route = TRoute::Page;
  else if (path == "/api/status") v.Route = TRoute::Status;
  else if (path == "/api/runs") v.Route = TRoute::Runs;
  else if (path == "/api/version") v.Route = TRoute::Version;
  else if (path.startsWith(runs)) v.Route = TRoute::RunFile;
  else return v.Status = 404, v;
  if (head.Method != "GET") return v.Route = TRoute::None, v.Status = 405, v;
  v.Full = query.hasQueryItem("full");
  if (v.Route == TRoute::RunFile) {
    const QString name = path.mid(runs.size());
    if (!PlainRecordName(name)) return v.Route = TRoute::None, v.Status = 400, v;
    v.Name = name.toStdString();
  }
  return v;
}
