#include "veri/Transport.h"

#include <algorithm>
#include <deque>

#include "base/Host.h"
#include "serial/ClusterPort.h"

const char *const VERINoConnection = "*** VERIDialog: no connection to VERI  ";

namespace {

// A stale cluster (a late reply, the second half of a split one) must not be
// taken for the answer to the next command: drain one before each send.
void DrainOne(IClusterPort *port) {
  if (port && port->NextClusterLength() >= 0)
    ReportLine("$ VERI Serial Talk buffer: " + port->ReadNextClusterText());
}

// Frames whose reply was not read (timed out, or sent without waiting): a
// late reply to one of them may come during the wait for a later command.
std::deque<std::vector<std::string>> Unanswered;

bool Echoes(const std::vector<std::string> &reply, const std::vector<std::string> &frame) {
  return reply.size() >= frame.size() && std::equal(frame.begin(), frame.end(), reply.begin());
}

void Unanswer(const std::string &line) {
  Unanswered.push_back(VERIWords(line));
  if (Unanswered.size() > 8) Unanswered.pop_front();
}

// A reply of the addressed controller that echoes another command is a late
// reply to that one: taking it for this command's answer would give, say, a
// position read the value of an input. Replies of other controllers and
// noise are left to the caller.
bool Stale(const std::string &line, const std::string &cluster) {
  const std::vector<std::string> frame = VERIWords(line), reply = VERIWords(cluster);
  if (frame.empty() || reply.empty() || reply[0] != frame[0]) return false;
  // An empty poll echoes only the address: any reply of this controller
  // does, so the echo of an unanswered command decides.
  for (auto u = Unanswered.begin(); u != Unanswered.end(); ++u) {
    if (u->size() > frame.size() && Echoes(reply, *u)) {
      Unanswered.erase(u);
      return true;
    }
  }
  return !Echoes(reply, frame);
}

double ExchangeMs = VERIDefaultExchangeMs;
unsigned Exchanges = 0;

// A plain mean of the first eight, then each new one weighs an eighth.
// Time-outs stay out: they tell of a fault, not of what a run costs.
void NoteExchange(uint32_t ms) {
  if (Exchanges < 8) ++Exchanges;
  ExchangeMs += (double(ms) - ExchangeMs) / Exchanges;
}

}  // namespace

double VERIExchangeMs() { return ExchangeMs; }
void VERIResetExchangeMs() {
  ExchangeMs = VERIDefaultExchangeMs;
  Exchanges = 0;
}

std::string SerialTalk(const std::string &line) {
  const uint32_t started = GetTickCount();
  IClusterPort *port = VeriPort();
  DrainOne(port);
  // A closed or vanished line cannot answer: fail as a silent controller
  // does, without its second of waiting.
  const bool down = port && port->LineDown();
  if (port && !down) port->SendText(line);
  std::string reply;
  int counter = down ? 0 : 100;
  bool got = false;
  while (counter > 0) {
    // With fast replies the port ends the 10 ms early when the reply is in.
    if (!port || !port->WaitForCluster(10)) SleepMs(10);
    port = VeriPort();
    if (port && port->NextClusterLength() >= 0) {
      int32_t cc = port->NextClusterCCError();
      std::string text = port->ReadNextClusterText();
      if (cc == 0 && Stale(line, text)) {
        ReportLine("$ VERI Serial Talk buffer: " + text);
        --counter;
        continue;
      }
      reply = cc != 0 ? "*** SerialTalk: NextClusterCCError  " : text;
      got = true;
      NoteExchange(GetTickCount() - started);
      break;
    }
    --counter;
  }
  if (!got) {
    reply = "*** SerialTalk: TimeOut  ";
    Unanswer(line);
  }
  ReportLine("$ VERI Rcvd: (" + std::to_string(counter) + ") : " + reply);
  return reply;
}

void SerialCall(const std::string &line) {
  IClusterPort *port = VeriPort();
  DrainOne(port);
  if (port && !port->LineDown()) port->SendText(line);
  Unanswer(line);
  ReportLine("$ VERI Call: " + line);
}

std::string VERIFrame(uint8_t address, const std::string &command) {
  return "#" + std::to_string(address) + " " + command + "\r";
}

void VERICall(uint8_t address, const std::string &command) {
  SerialCall(VERIFrame(address, command));
  SleepMs(30);
}

std::vector<std::string> VERIWords(const std::string &text) {
  std::vector<std::string> words;
  std::string word;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 1 && c <= 32) {
      if (!word.empty()) words.push_back(word), word.clear();
    } else {
      word += ch;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

std::string VERICutAnswer(uint8_t address, const std::string &command, const std::string &raw) {
  size_t n = VERIWords(VERIFrame(address, command)).size();
  std::string cut = raw.size() < 2 ? std::string() : raw.substr(0, raw.size() - 2);
  std::vector<std::string> words = VERIWords(cut);
  if (!words.empty() && words[0] == "#" + std::to_string(address)) {
    std::string answer;
    for (size_t i = n; i < words.size(); ++i) answer += words[i] + " ";
    return answer;
  }
  // Not our controller's echo. The failure must start with "*" whatever the
  // reply was, or a caller would take another controller's words (or noise)
  // for an answer; the reply itself stays in the text for the log.
  if (cut.empty()) return VERINoConnection;
  if (cut[0] == '*') return cut + "\r\n" + VERINoConnection;
  return "*** " + cut + "\r\n" + VERINoConnection;
}

std::string VERIDialog(uint8_t address, const std::string &command) {
  return VERICutAnswer(address, command, SerialTalk(VERIFrame(address, command)));
}
