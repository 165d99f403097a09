// Any bytes as an INI file: reads never fail or read past the text, and a
// write reads back what was written.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>

#include "base/Profile.h"
#include "Check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = "/tmp/kvfuzz-ini-" + std::to_string(getpid()) + ".ini";
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ProfileReadString(path, "Motor1", "Axis", "X");
  ProfileReadInt(path, "General", "NMotors", 3);
  ProfileReadFloat(path, "Settings", "Home_Y", 10.25);
  ProfileReadBool(path, "Settings", "Y_Centerline", false);
  // Section and key names taken from the input itself.
  const std::string section = text.substr(0, std::min<size_t>(size / 2, 16));
  const std::string key = text.substr(size / 2, 8);
  try {
    ProfileWriteString(path, "Fuzz", "Key", "value 1");
    Check(ProfileReadString(path, "Fuzz", "Key", "") == "value 1");
    ProfileWriteInt(path, section, key, -7);
    ProfileReadInt(path, section, key, 0);
  } catch (const std::exception &) {
    // Names the profile cannot hold are refused with an error; that is fine.
  }
  return 0;
}
