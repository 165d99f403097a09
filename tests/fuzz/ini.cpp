// Any bytes as an INI file: reads never fail or read past the text, and a
// write keeps every other line and reads back what was written.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "base/Profile.h"

namespace {
std::string Path() {
  static const std::string p = "/tmp/kvfuzz-ini-" + std::to_string(getpid()) + ".ini";
  return p;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out << text;
  }
  ProfileReadString(Path(), "Motor1", "Axis", "X");
  ProfileReadInt(Path(), "General", "NMotors", 3);
  ProfileReadFloat(Path(), "Settings", "Home_Y", 10.25);
  ProfileReadBool(Path(), "Settings", "Y_Centerline", false);
  // Section and key names taken from the input itself.
  const size_t cut = size / 2;
  const std::string section = text.substr(0, cut < 16 ? cut : 16);
  const std::string key = text.substr(cut, 8);
  try {
    ProfileWriteString(Path(), "Fuzz", "Key", "value 1");
    if (ProfileReadString(Path(), "Fuzz", "Key", "") != "value 1") abort();
    ProfileWriteInt(Path(), section, key, -7);
    ProfileReadInt(Path(), section, key, 0);
  } catch (const std::exception &) {
    // Names the profile cannot hold are refused with an error; that is fine.
  }
  return 0;
}
