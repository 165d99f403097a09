// Any bytes as a controller reply: word splitting and answer cutting never
// read past the text, and a failed exchange always begins with "*".
#include <cstdint>
#include <string>

#include "veri/Transport.h"
#include "Check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const std::string raw(reinterpret_cast<const char *>(data + 1), size - 1);
  const auto words = VERIWords(raw.size() >= 2 ? raw.substr(0, raw.size() - 2) : "");
  const bool ours = !words.empty() && words[0] == "#" + std::to_string(data[0]);
  for (const char *command : {"", "P51?", "V=1200.0000 WA=-12.5000 E"}) {
    const std::string answer = VERICutAnswer(data[0], command, raw);
    Check(ours || (!answer.empty() && answer[0] == '*'));
  }
  return 0;
}
