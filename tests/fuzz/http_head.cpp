// Any bytes as what a client sends the remote server before the gate hands
// it on: the answer is "more", "pass" or one of the few refusals, and a
// request that passes is a GET or POST of exactly its head and body.
#include <QByteArray>
#include <cstdint>

#include "remote/HttpGate.h"
#include "Check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
  THttpHead head;
  const int status = ScreenRequest(bytes, head);
  Check(status == -1 || status == 0 || status == 400 || status == 405 || status == 413);
  if (status == -1) Check(bytes.size() <= HttpMaxHead + HttpMaxBody);
  if (status == 0) {
    Check(head.Method == "GET" || head.Method == "POST");
    Check(!head.Target.empty() && head.Target[0] == '/');
    Check(head.BodySize <= HttpMaxBody && head.HeadSize + head.BodySize == bytes.size());
    Check(bytes.mid(head.HeadSize - 4, 4) == "\r\n\r\n");
  }
  return 0;
}
