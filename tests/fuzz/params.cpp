// Any bytes as a controller reply: word splitting and answer cutting never
// read past the text, a failed exchange always begins with "*", and a
// parameter read gives a finite value or fails and leaves the value 0. The
// first byte is the controller's address, the rest the raw reply.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>

#include "base/Host.h"
#include "base/Machine.h"
#include "serial/ClusterPort.h"
#include "veri/Params.h"
#include "veri/Transport.h"
#include "Check.h"

namespace {

// Answers every command with the same raw reply, at once, on a clock that
// only jumps.
class TReplyPort : public IClusterPort, public IClock {
public:
  std::string Reply;
  bool Pending = false;
  uint32_t Now = 0;
  void SendText(const std::string &) override { Pending = true; }
  int32_t NextClusterLength() override { return Pending ? static_cast<int32_t>(Reply.size()) : -1; }
  int32_t NextClusterCCError() override { return Pending ? 0 : -1; }
  std::string ReadNextClusterText() override {
    Pending = false;
    return Reply;
  }
  uint32_t GetTickCount() override { return Now; }
  void Sleep(uint32_t ms) override { Now += ms; }
} Port;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) std::setlocale(LC_ALL, "de_DE.utf8");
  Host().Clock = &Port;
  VeriPort() = &Port;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t address = data[0] % 4;
  const std::string &raw = Port.Reply.assign(reinterpret_cast<const char *>(data + 1), size - 1);
  const auto words = VERIWords(VERIWithoutLineEnd(raw));
  const bool ours = !words.empty() && words[0] == "#" + std::to_string(data[0]);
  for (const char *command : {"", "P51?", "V=1200.0000 WA=-12.5000 E"}) {
    const std::string answer = VERICutAnswer(data[0], command, raw);
    Check(ours || (!answer.empty() && answer[0] == '*'));
  }
  double v = -1;
  int32_t i = 0;
  if (VERIParamValue(raw, v)) Check(std::isfinite(v));
  VERIParamValueI(raw, i);
  std::string error;
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
