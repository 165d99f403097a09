#include "veri/Transport.h"

#include <algorithm>
#include <cctype>
#include <deque>

#include "base/Host.h"
#include "serial/ClusterPort.h"

const char *const VERINoConnection = "*** VERIDialog: no connection to VERI  ";

namespace {

// Frames whose reply was not read (timed out, or sent without waiting): a
// late reply to one of them may come during the wait for a later command.
std::deque<std::vector<std::string>> Unanswered;

// Replies of a received cluster not yet looked at: one cluster may hold the
// echoes of writes sent without waiting and the reply awaited.
std::deque<std::string> Pending;

bool Echoes(const std::vector<std::string> &reply, const std::vector<std::string> &frame) {
  return reply.size() >= frame.size() && std::equal(frame.begin(), frame.end(), reply.begin());
}

void Unanswer(const std::string &line) {
  Unanswered.push_back(VERIWords(line));
  if (Unanswered.size() > 8) Unanswered.pop_front();
}

// The logged form of received bytes: CR and LF as \r \n.
std::string Shown(const std::string &bytes) {
  std::string s;
  for (char c : bytes)
    s += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return s;
}

// Automatic fast replies: a reply that breaks what closing at the line end
// assumes puts the line back on the cut rule until the next line check.
void Broke(IClusterPort *port, const std::string &what, const std::string &bytes) {
  if (!port || port->FastRepliesSetting() != TFastReplies::Automatic || !port->ReplyRule().AtLineEnd) return;
  port->SetReplyRule({});
  ReportLine("Replies end by the cut rule until the next Connect: " + what + " (\"" + Shown(bytes) + "\")");
}

// Words of the longest sent frame (this one or an unanswered one) that
// `piece` echoes; 0 when none.
size_t EchoSize(const std::vector<std::string> &piece, const std::vector<std::string> &frame) {
  size_t n = Echoes(piece, frame) ? frame.size() : 0;
  for (auto &u : Unanswered)
    if (Echoes(piece, u)) n = std::max(n, u.size());
  return n;
}

// A cluster cut into replies, each from its "#" to its CR LF. A line
// without "#" continues a reply that holds only its echo so far (a reply in
// two lines); otherwise it stands alone. Whatever breaks what closing at
// the line end assumes is told to Broke.
std::vector<std::string> Split(IClusterPort *port, const std::string &text,
                               const std::vector<std::string> &frame) {
  std::vector<std::string> pieces;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    end = end == std::string::npos ? text.size() : end + 2;
    // An echo without its line end glued to the next reply.
    for (size_t k = at + 1; k + 1 < end; ++k)
      if (text[k] == '#' && std::isdigit(static_cast<unsigned char>(text[k + 1])) &&
          static_cast<unsigned char>(text[k - 1]) > 32) {
        end = k;
        break;
      }
    const std::string line = text.substr(at, end - at);
    at = end;
    if (!pieces.empty() && line[0] != '#') {
      const std::vector<std::string> prev = VERIWords(pieces.back());
      if (prev.size() <= EchoSize(prev, frame)) {
        pieces.back() += line;
        Broke(port, "a reply sent as two lines", pieces.back());
        continue;
      }
    }
    pieces.push_back(line);
  }
  for (const std::string &p : pieces) {
    const std::vector<std::string> w = VERIWords(p);
    if (p[0] != '#') Broke(port, "a line after the reply", p);
    else if (!frame.empty() && !w.empty() && w[0] != frame[0] && EchoSize(w, frame) == 0)
      Broke(port, "another controller answered", p);
    else if (p.size() < 2 || p.compare(p.size() - 2, 2, "\r\n") != 0)
      Broke(port, "a reply without its line end", p);
  }
  return pieces;
}

// The frame sent last: what a stale cluster is measured against.
std::vector<std::string> LastFrame;

// A stale reply (a late one, the rest of a split one) must not be taken for
// the answer to the next command: drain before each send.
void DrainStale(IClusterPort *port) {
  for (; !Pending.empty(); Pending.pop_front()) ReportLine("$ VERI Serial Talk buffer: " + Pending.front());
  if (port && port->NextClusterLength() >= 0) {
    const std::string text = port->ReadNextClusterText();
    Split(port, text, LastFrame);
    ReportLine("$ VERI Serial Talk buffer: " + text);
  }
}

// A reply of the addressed controller that echoes another command is a late
// reply to that one: taking it for this command's answer would give, say, a
// position read the value of an input. Replies of other controllers and
// noise are left to the caller.
bool Stale(const std::vector<std::string> &frame, const std::vector<std::string> &reply) {
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

// Another controller's reply, or a late one to an unanswered frame, beside
// the awaited reply in the same cluster.
bool BesideTheReply(const std::vector<std::string> &frame, const std::vector<std::string> &reply) {
  if (frame.empty() || reply.empty() || reply[0] == frame[0]) return false;
  for (auto &p : Pending)
    if (Echoes(VERIWords(p), frame)) return true;
  return false;
}

struct TMean {
  double Ms = VERIDefaultExchangeMs;
  unsigned Count = 0;
  // A plain mean of the first eight, then each new one weighs an eighth.
  void Note(uint32_t ms) {
    if (Count < 8) ++Count;
    Ms += (double(ms) - Ms) / Count;
  }
};
TMean All, Kinds[3];

// Time-outs stay out: they tell of a fault, not of what a run costs.
void NoteExchange(uint32_t ms, TExchangeKind kind) {
  if (kind != TExchangeKind::Call) All.Note(ms);
  Kinds[int(kind)].Note(ms);
}

}  // namespace

double VERIExchangeMs() { return All.Ms; }
double VERIExchangeMs(TExchangeKind kind) {
  const TMean &m = Kinds[int(kind)];
  if (m.Count) return m.Ms;
  return kind == TExchangeKind::Call ? 30.0 : All.Ms;  // a call's own pause
}
void VERIResetExchangeMs() {
  All = TMean();
  for (TMean &m : Kinds) m = TMean();
}

namespace {

std::string Talk(const std::string &line, bool answerWords) {
  const uint32_t started = GetTickCount();
  IClusterPort *port = VeriPort();
  DrainStale(port);
  // A closed or vanished line cannot answer: fail as a silent controller
  // does, without its second of waiting.
  const bool down = port && port->LineDown();
  if (port && !down) port->SendFrame(line, answerWords);
  const std::vector<std::string> frame = LastFrame = VERIWords(line);
  std::string reply;
  int counter = down ? 0 : 100;
  bool got = false;
  while (counter > 0 && !got) {
    // With fast replies the port ends the 10 ms early when the reply is in.
    if (!port || !port->WaitForCluster(10)) SleepMs(10);
    port = VeriPort();
    if (!port || port->NextClusterLength() < 0) {
      --counter;
      continue;
    }
    const int32_t cc = port->NextClusterCCError();
    const std::string text = port->ReadNextClusterText();
    if (cc != 0) {
      reply = "*** SerialTalk: NextClusterCCError  ";
      got = true;
      break;
    }
    for (std::string &p : Split(port, text, frame)) Pending.push_back(p);
    while (!Pending.empty() && !got) {
      const std::string piece = Pending.front();
      Pending.pop_front();
      const std::vector<std::string> words = VERIWords(piece);
      if (BesideTheReply(frame, words) || Stale(frame, words)) {
        ReportLine("$ VERI Serial Talk buffer: " + piece);
        continue;
      }
      reply = piece;
      got = true;
    }
    if (got) {
      NoteExchange(GetTickCount() - started, answerWords ? TExchangeKind::Read : TExchangeKind::Write);
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

}  // namespace

std::string SerialTalk(const std::string &line) { return Talk(line, true); }

void SerialCall(const std::string &line) {
  IClusterPort *port = VeriPort();
  DrainStale(port);
  if (port && !port->LineDown()) port->SendFrame(line, false);
  LastFrame = VERIWords(line);
  Unanswer(line);
  ReportLine("$ VERI Call: " + line);
}

bool VERIAnswerWords(const std::string &command) {
  const std::vector<std::string> w = VERIWords(command);
  return w.empty() || command.find('?') != std::string::npos || w[0] == "VER" || w[0] == "LIST+";
}

std::string VERIFrame(uint8_t address, const std::string &command) {
  return "#" + std::to_string(address) + " " + command + "\r";
}

void VERICall(uint8_t address, const std::string &command) {
  const uint32_t started = GetTickCount();
  SerialCall(VERIFrame(address, command));
  SleepMs(30);
  NoteExchange(GetTickCount() - started, TExchangeKind::Call);
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
  return VERICutAnswer(address, command, Talk(VERIFrame(address, command), VERIAnswerWords(command)));
}
