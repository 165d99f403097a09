#include "veri/LineCheck.h"

#include <algorithm>

#include "base/Host.h"
#include "base/Machine.h"
#include "serial/ClusterPort.h"

std::vector<uint8_t> VERILineAddresses() {
  std::vector<uint8_t> a = {1, 3};
  if (NMotors != 2) a.push_back(2);
  if (Axes[3].HWAddress) a.push_back(Axes[3].HWAddress);
  for (int c = 1; c <= DigOutMax; ++c)
    if (DigOutTable[c].Address) a.push_back(DigOutTable[c].Address);
  std::sort(a.begin(), a.end());
  a.erase(std::unique(a.begin(), a.end()), a.end());
  return a;
}

std::string VERILineReport(const std::vector<uint8_t> &found) {
  VERILineEnd();
  IClusterPort *port = VeriPort();
  std::string text;
  if (port && port->FastRepliesSetting() == TFastReplies::Automatic) {
    std::vector<uint8_t> shown = found;
    for (auto &[a, v] : VERILineVerdicts())
      if (!v.Passed) shown.push_back(a);
    std::sort(shown.begin(), shown.end());
    shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
    for (uint8_t a : shown) {
      const auto it = VERILineVerdicts().find(a);
      const TLineVerdict v = it == VERILineVerdicts().end() ? TLineVerdict{} : it->second;
      const std::string verdict = !v.Passed ? v.Broken + ": " + v.Seen
                                  : v.Reads  ? std::string("passed")
                                             : std::string("not judged, the line went back to the cut rule first");
      const std::string line = "Line check, controller " + std::to_string(a) + ": " + verdict;
      ReportLine(line);
      text += line + "\n";
    }
  }
  const std::string last = "Replies end at the line end: " + (port ? ReplyRuleText(*port) : std::string("off"));
  ReportLine(last);
  return text + last;
}

std::string VERICheckLine(const std::vector<uint8_t> &addresses) {
  VERILineBegin();
  std::vector<uint8_t> found;
  for (uint8_t a : addresses) {
    const std::string version = VERIDialog(a, "VER");
    if (version.empty() || version[0] == '*') continue;
    found.push_back(a);
    VERIDialog(a, "");
  }
  return VERILineReport(found);
}
