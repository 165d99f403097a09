#include "veri/LineCheck.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "base/Host.h"
#include "base/Machine.h"
#include "serial/ClusterPort.h"
#include "veri/Transport.h"

namespace {

std::string Shown(const std::string &bytes) {
  std::string s;
  for (char c : bytes)
    s += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return s;
}

struct TProbe {
  std::string Bytes;
  uint32_t Ms = 0;  // from the send to the first cluster
};

// One frame out, and every cluster that comes for it: the first within the
// transport's second, then any that follows within 30 ms.
TProbe Probe(IClusterPort *port, uint8_t address, const std::string &command) {
  while (port->NextClusterLength() >= 0)
    ReportLine("$ VERI Serial Talk buffer: " + port->ReadNextClusterText());
  const std::string frame = VERIFrame(address, command);
  ReportLine("$ Line check: " + frame);
  port->SendFrame(frame, VERIAnswerWords(command));
  TProbe p;
  const uint32_t started = GetTickCount();
  int quiet = 0;
  for (int polls = 0; polls < 100 && quiet < 3; ++polls) {
    SleepMs(10);
    if (p.Bytes.empty() && port->NextClusterLength() < 0) continue;
    if (port->NextClusterLength() < 0) {
      ++quiet;
      continue;
    }
    if (p.Bytes.empty()) p.Ms = GetTickCount() - started;
    p.Bytes += port->ReadNextClusterText();
    quiet = 0;
  }
  return p;
}

// What the bytes of one probe break; "" when nothing. `blame` gets the
// address of the controller at fault.
std::string Judge(uint8_t address, const std::string &command, const std::string &bytes,
                  const std::vector<uint8_t> &addresses, uint8_t &blame) {
  blame = address;
  if (bytes.empty()) return "no reply";
  const std::string own = "#" + std::to_string(address);
  const size_t echo = VERIWords(VERIFrame(address, command)).size();
  size_t at = 0, ownLines = 0;
  bool ownComplete = false;
  while (at < bytes.size()) {
    size_t end = bytes.find("\r\n", at);
    const bool ended = end != std::string::npos;
    end = ended ? end + 2 : bytes.size();
    const std::string line = bytes.substr(at, end - at);
    at = end;
    const std::vector<std::string> w = VERIWords(line);
    const std::string first = w.empty() ? std::string() : w[0];
    if (first.size() > 1 && first[0] == '#' && first != own) {
      const int k = std::atoi(first.c_str() + 1);
      if (std::find(addresses.begin(), addresses.end(), uint8_t(k)) != addresses.end()) blame = uint8_t(k);
      return "answers frames not addressed to it";
    }
    if (first == own) {
      ++ownLines;
      ownComplete = w.size() > echo || !VERIAnswerWords(command);
    } else if (ownLines > 0) {
      return ownComplete ? "a line after the reply" : "a reply sent as two lines";
    } else {
      return "a line that is no reply";
    }
    if (!ended)
      return VERIAnswerWords(command) ? "a reply without its line end"
                                      : "an echo-only reply without its line end";
  }
  return ownLines == 1 ? "" : "more than one reply";
}

}  // namespace

std::vector<uint8_t> VERILineAxes() {
  if (NMotors == 2) return {1, 3};
  return {1, 2, 3};
}

std::string VERICheckLine(const std::vector<uint8_t> &addresses, bool full, std::vector<TLineVerdict> *out) {
  IClusterPort *port = VeriPort();
  if (!port) return "";
  // Under the cut rule a cluster holds the reply and whatever follows it.
  port->SetReplyRule({});
  std::map<uint8_t, TLineVerdict> verdicts;
  for (uint8_t a : addresses) verdicts[a].Address = a;
  auto judge = [&](uint8_t a, const std::string &command, const TProbe &p) {
    uint8_t blame = a;
    const std::string broken = Judge(a, command, p.Bytes, addresses, blame);
    TLineVerdict &v = verdicts[blame];
    v.Address = blame;
    if (broken.empty() || !v.Passed) return;
    v.Passed = false;
    v.Broken = broken;
    v.Seen = "\"" + Shown(p.Bytes) + "\" " + std::to_string(p.Ms) + " ms after \"" +
             Shown(VERIFrame(a, command)) + "\"";
  };
  for (uint8_t a : addresses) {
    if (full) judge(a, "VER", Probe(port, a, "VER"));
    const TProbe read = Probe(port, a, "P12?");
    judge(a, "P12?", read);
    if (full) judge(a, "", Probe(port, a, ""));
    // The value just read written back: a write that changes nothing.
    const std::string answer = VERICutAnswer(a, "P12?", read.Bytes);
    const size_t eq = answer.find('=');
    if (answer.empty() || answer[0] == '*' || eq == std::string::npos) continue;
    const std::vector<std::string> value = VERIWords(answer.substr(eq + 1));
    if (value.empty()) continue;
    const std::string write = "P12=" + value[0];
    judge(a, write, Probe(port, a, write));
  }
  bool passed = true;
  std::string text;
  for (auto &[a, v] : verdicts) {
    passed = passed && v.Passed;
    const std::string line = "Line check, controller " + std::to_string(a) + ": " +
                             (v.Passed ? std::string("passed") : v.Broken + ": " + v.Seen);
    ReportLine(line);
    text += line + "\n";
    if (out) out->push_back(v);
  }
  const TFastReplies setting = port->FastRepliesSetting();
  std::string rule;
  if (setting == TFastReplies::Automatic) {
    port->SetReplyRule({passed, passed});
    rule = passed ? "automatic, at the line end" : "automatic, by the cut rule";
  } else {
    port->SetReplyRule({setting == TFastReplies::On, false});
    rule = setting == TFastReplies::On ? "on" : "off";
  }
  const std::string last = "Replies end at the line end: " + rule;
  ReportLine(last);
  return text + last;
}
