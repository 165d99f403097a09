// Any bytes as what a client sends the remote server: screened as the door
// screens them and, when whole, judged as the server judges them before it
// hands the connection over (on the local and the lab network). Only a
// whole WebSocket upgrade goes to the WebSocket server, STOP only with the
// control token, local only with this computer's Host and no other Origin.
#include <QByteArray>
#include <cstdint>

#include "remote/RequestJudge.h"
#include "Check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
  THttpHead head;
  const int status = ScreenRequest(bytes, head);
  Check(status == -1 || status == 0 || status == 400 || status == 405 || status == 413);
  if (status == -1) Check(bytes.size() <= HttpMaxHead + HttpMaxBody);
  if (status != 0) return 0;
  Check(head.Method == "GET" || head.Method == "POST");
  Check(!head.Target.empty() && head.Target[0] == '/');
  Check(head.BodySize <= HttpMaxBody && head.HeadSize + head.BodySize == bytes.size());
  Check(bytes.mid(head.HeadSize - 4, 4) == "\r\n\r\n");
  const std::string read(64, 'r'), control(64, 'c'), host = QByteArray::fromStdString(head.Header("host")).toLower().toStdString();
  for (bool lab : {false, true}) {
    const TVerdict v = JudgeRequest(head, TAccess{lab, 8080, read, control});
    Check((v.Status == 0) == (v.Route != TRoute::None));
    Check(v.Status == 0 || (v.Status >= 400 && v.Status <= 405 && v.Status != 402));
    if (v.Status) continue;
    Check(v.Route == TRoute::Events ? IsWebSocketUpgrade(head) : head.Count("upgrade") == 0);
    if (!lab) Check(host == "127.0.0.1:8080" || host == "localhost:8080" || host == "[::1]:8080");
    if (head.Count("origin")) Check(QByteArray::fromStdString(head.Header("origin")).toLower().toStdString() == "http://" + host);
    const std::string bearer = BearerToken(head.Header("authorization"));
    if (v.Route == TRoute::Stop) Check(head.Method == "POST" && bearer == control);
    else if (lab) Check(bearer == read || bearer == control || head.Target.find("token=") != std::string::npos);
    if (v.Route == TRoute::RunFile)
      Check(v.Name.find('/') == std::string::npos && v.Name[0] != '.' && v.Name.size() > 4);
  }
  return 0;
}
