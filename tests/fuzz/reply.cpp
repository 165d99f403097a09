// Any bytes as a controller reply: word splitting and answer cutting never
// read past the text, and a failed exchange always begins with "*".
#include <cstdint>
#include <cstdlib>
#include <string>

#include "veri/Transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t address = data[0];
  const std::string raw(reinterpret_cast<const char *>(data + 1), size - 1);
  VERIWords(raw);
  for (const char *command : {"", "P51?", "V=1200.0000 WA=-12.5000 E"}) {
    const std::string answer = VERICutAnswer(address, command, raw);
    const std::string echo = "#" + std::to_string(address);
    const auto words = VERIWords(raw.size() >= 2 ? raw.substr(0, raw.size() - 2) : "");
    if ((words.empty() || words[0] != echo) && (answer.empty() || answer[0] != '*')) abort();
  }
  return 0;
}
