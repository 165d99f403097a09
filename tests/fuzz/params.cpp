// Any bytes as the reply to a parameter read: the value read is finite, or
// the read fails with a text beginning with "*" and leaves the value 0. The
// first byte is the controller's address, the rest the raw reply.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Host.h"
#include "base/Machine.h"
#include "serial/ClusterPort.h"
#include "veri/Params.h"
#include "Check.h"

namespace {

// Answers every command with the same raw reply, at once.
class TReplyPort : public IClusterPort {
public:
  std::string Reply;
  bool Pending = false;
  void SendText(const std::string &) override { Pending = true; }
  int32_t NextClusterLength() override { return Pending ? static_cast<int32_t>(Reply.size()) : -1; }
  int32_t NextClusterCCError() override { return Pending ? 0 : -1; }
  std::string ReadNextClusterText() override {
    if (!Pending) return "";
    Pending = false;
    return Reply;
  }
};

class TNoClock : public IClock {
public:
  uint32_t Now = 0;
  uint32_t GetTickCount() override { return Now; }
  void Sleep(uint32_t ms) override { Now += ms; }
};

TReplyPort Port;
TNoClock Clock;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) std::setlocale(LC_ALL, "de_DE.utf8");
  Host().Clock = &Clock;
  VeriPort() = &Port;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t address = data[0] % 4;
  const std::string raw(reinterpret_cast<const char *>(data + 1), size - 1);

  double v = -1;
  if (VERIParamValue(raw, v)) Check(std::isfinite(v));
  int32_t i = 0;
  VERIParamValueI(raw, i);

  Port.Reply = raw;
  std::string error;
  v = -1;
  VERIGetParam(address, 51, v, error);
  Check(error.empty() ? std::isfinite(v) : error[0] == '*' && v == 0);
  i = -1;
  VERIGetParamI(address, 12, i, error);
  Check(error.empty() || (error[0] == '*' && i == 0));

  if (address >= 1) {
    Axes[address].Position = 7;
    VERIGetPosition(address);
    Check(std::isfinite(Axes[address].Position));
  }
  return 0;
}
