#include "veri/Transport.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>

#include "base/Host.h"
#include "serial/ClusterPort.h"

const char *const VERINoConnection = "*** VERIDialog: no connection to VERI  ";

namespace {

struct TSent {
  std::vector<std::string> Words;
  bool Answer = true;  // its reply carries words after the echo
  std::string Line;
};

// Frames whose reply was not read (timed out, or sent without waiting): a
// late reply to one of them may come during the wait for a later command.
std::deque<TSent> Unanswered;

// Replies of a received cluster not yet looked at: one cluster may hold the
// echoes of writes sent without waiting and the reply awaited.
std::deque<std::string> Pending;

// The frame sent last: what a stale cluster is measured against.
TSent LastFrame;

bool Echoes(const std::vector<std::string> &reply, const std::vector<std::string> &frame) {
  return reply.size() >= frame.size() && std::equal(frame.begin(), frame.end(), reply.begin());
}

void Unanswer(const TSent &sent) {
  Unanswered.push_back(sent);
  if (Unanswered.size() > 8) Unanswered.pop_front();
}

// The logged form of received bytes: CR and LF as \r \n.
std::string Shown(const std::string &bytes) {
  std::string s;
  for (char c : bytes)
    s += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return s;
}

// "#12" -> 12; -1 when the word is no address.
int AddressOf(const std::string &word) {
  if (word.size() < 2 || word.size() > 4 || word[0] != '#' ||
      word.find_first_not_of("0123456789", 1) != std::string::npos)
    return -1;
  const int a = std::stoi(word.substr(1));
  return a < 256 ? a : -1;
}

// The line's verdicts (automatic replies).
std::map<uint8_t, TLineVerdict> Verdicts;
bool CheckOpen = false;

TLineVerdict &VerdictOf(int address) {
  TLineVerdict &v = Verdicts[uint8_t(address)];
  v.Address = uint8_t(address);
  return v;
}

// What a cluster showed that closing replies at their line end does not
// allow for, said as the controller did it.
struct TBreak {
  std::string What, Bytes;
  int Blame = -1;  // the controller at fault; -1: the one addressed
};

void Note(TBreak *b, const std::string &what, const std::string &bytes, int blame = -1) {
  if (b && b->What.empty()) *b = {what, bytes, blame};
}

// Automatic fast replies: a reply that breaks what closing at the line end
// assumes puts the line back on the cut rule until the next Connect. `ms`
// is when the bytes came after `sent` went out (-1: unknown).
void Broke(IClusterPort *port, const TBreak &b, const TSent &sent, int ms) {
  if (b.What.empty() || !port || port->FastRepliesSetting() != TFastReplies::Automatic) return;
  const TReplyRule rule = port->ReplyRule();
  if (!rule.Earning && !rule.AtLineEnd()) return;  // on the cut rule already
  port->SetReplyRule({});
  const int blame = b.Blame >= 0 ? b.Blame : (sent.Words.empty() ? -1 : AddressOf(sent.Words[0]));
  if (blame >= 0) {
    TLineVerdict &v = VerdictOf(blame);
    v.Passed = false;
    v.Broken = b.What;
    v.Seen = "\"" + Shown(b.Bytes) + "\"" +
             (ms >= 0 ? " " + std::to_string(ms) + " ms after \"" + Shown(sent.Line) + "\"" : std::string());
  }
  if (!CheckOpen)
    ReportLine("Replies end by the cut rule until the next Connect: " + b.What + " (\"" + Shown(b.Bytes) + "\")");
}

// The sent frame (this one or an unanswered one) that `piece` echoes
// longest; null when none.
const TSent *Echoed(const std::vector<std::string> &piece, const TSent &frame) {
  const TSent *best = Echoes(piece, frame.Words) && !frame.Words.empty() ? &frame : nullptr;
  for (auto &u : Unanswered)
    if (Echoes(piece, u.Words) && (!best || u.Words.size() > best->Words.size())) best = &u;
  return best;
}

// A cluster cut into replies, each from its "#" to its CR LF. A line
// without "#" continues a read's reply that holds only its echo so far (its
// answer on a line of its own); otherwise it stands alone. The first thing
// that breaks what closing at the line end assumes goes to `b`.
std::vector<std::string> Split(const std::string &text, const TSent &frame, TBreak *b) {
  std::vector<std::string> pieces;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    end = end == std::string::npos ? text.size() : end + 2;
    // A reply begun without the line end of the one before: an echo without
    // its line end, or a line ended by LF or CR alone.
    for (size_t k = at + 1; k + 1 < end; ++k)
      if (text[k] == '#' && std::isdigit(static_cast<unsigned char>(text[k + 1])) &&
          (static_cast<unsigned char>(text[k - 1]) > 32 || text[k - 1] == '\n' || text[k - 1] == '\r')) {
        end = k;
        break;
      }
    const std::string line = text.substr(at, end - at);
    at = end;
    const std::vector<std::string> words = VERIWords(line);
    if (words.empty()) {
      Note(b, std::string(line == "\n" ? "a line feed" : "an empty line") +
                  (pieces.empty() ? " before the reply" : " after the reply"),
           line);
      continue;
    }
    if (!pieces.empty() && line[0] != '#') {
      const std::vector<std::string> prev = VERIWords(pieces.back());
      const TSent *s = Echoed(prev, frame);
      if (s && s->Answer && prev.size() <= s->Words.size()) {
        pieces.back() += line;
        Note(b, "the answer on a line of its own after the echo", pieces.back());
        continue;
      }
    }
    pieces.push_back(line);
  }
  for (const std::string &p : pieces) {
    const std::vector<std::string> w = VERIWords(p);
    const TSent *s = Echoed(w, frame);
    const size_t n = p.size();
    if (p[0] != '#') {
      Note(b, "a line after the reply", text);
    } else if (!frame.Words.empty() && w[0] != frame.Words[0] && !s) {
      Note(b, "controller " + w[0].substr(1) + " answered a frame to controller " + frame.Words[0].substr(1), p,
           AddressOf(w[0]));
    } else if (n >= 2 && p.compare(n - 2, 2, "\r\n") == 0) {
    } else if (p[n - 1] == '\n') {
      Note(b, "the reply ends with LF alone, not CR LF", p);
    } else if (p[n - 1] == '\r') {
      Note(b, "the reply ends with CR alone, not CR LF", p);
    } else {
      Note(b, s && !s->Answer ? "the echo of a write without its line end" : "a reply without its line end", p);
    }
  }
  return pieces;
}

// A stale reply (a late one, the rest of a split one, bytes the port held
// after a reply closed) must not be taken for the answer to the next
// command: drain before each send.
void DrainStale(IClusterPort *port) {
  for (; !Pending.empty(); Pending.pop_front()) ReportLine("$ VERI Serial Talk buffer: " + Pending.front());
  if (!port) return;
  std::string text = port->TakeHeld();
  if (port->NextClusterLength() >= 0) text = port->ReadNextClusterText() + text;
  if (text.empty()) return;
  TBreak b;
  Split(text, LastFrame, &b);
  Broke(port, b, LastFrame, -1);
  ReportLine("$ VERI Serial Talk buffer: " + text);
}

// A reply of the addressed controller that echoes another command is a late
// reply to that one: taking it for this command's answer would give, say, a
// position read the value of an input. Replies of other controllers and
// noise are left to the caller.
bool Stale(const std::vector<std::string> &frame, const std::vector<std::string> &reply, TBreak *b) {
  if (frame.empty() || reply.empty() || reply[0] != frame[0]) return false;
  // An empty poll echoes only the address: any reply of this controller
  // does, so the echo of an unanswered command decides.
  for (auto u = Unanswered.begin(); u != Unanswered.end(); ++u) {
    if (u->Words.size() > frame.size() && Echoes(reply, u->Words)) {
      Unanswered.erase(u);
      return true;
    }
  }
  // A poll is answered "OK" and the state digit, nothing else.
  if (frame.size() == 1 && (reply.size() < 2 || reply[1].compare(0, 2, "OK") != 0)) {
    std::string line;
    for (auto &w : reply) line += (line.empty() ? "" : " ") + w;
    Note(b, "the status poll was answered by a line that is no status reply", line);
    return true;
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
  const TSent sent{VERIWords(line), answerWords, line};
  const std::vector<std::string> &frame = sent.Words;
  // Automatic: a reply under the cut rule shows whether this controller's
  // replies of this kind may close at their line end.
  const int address = frame.empty() ? -1 : AddressOf(frame[0]);
  TReplyRule rule = port ? port->ReplyRule() : TReplyRule();
  const bool judged = port && port->FastRepliesSetting() == TFastReplies::Automatic && rule.Earning &&
                      address >= 0 && !(answerWords ? rule.Answers : rule.EchoOnly)[size_t(address)];
  bool clean = true;
  TBreak b;
  if (port && !down) port->SendFrame(line, answerWords);
  LastFrame = sent;
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
      clean = false;
      break;
    }
    const std::vector<std::string> pieces = Split(text, sent, &b);
    clean = clean && pieces.size() == 1;
    Broke(port, b, sent, int(GetTickCount() - started));
    for (const std::string &p : pieces) Pending.push_back(p);
    while (!Pending.empty() && !got) {
      const std::string piece = Pending.front();
      Pending.pop_front();
      const std::vector<std::string> words = VERIWords(piece);
      if (BesideTheReply(frame, words) || Stale(frame, words, &b)) {
        Broke(port, b, sent, int(GetTickCount() - started));
        ReportLine("$ VERI Serial Talk buffer: " + piece);
        clean = false;
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
    Unanswer(sent);
  } else if (judged && clean && b.What.empty() && port) {
    rule = port->ReplyRule();
    if (rule.Earning) {
      (answerWords ? rule.Answers : rule.EchoOnly).set(size_t(address));
      port->SetReplyRule(rule);
      TLineVerdict &v = VerdictOf(address);
      (answerWords ? v.Reads : v.Writes) = true;
    }
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
  LastFrame = {VERIWords(line), false, line};
  Unanswer(LastFrame);
  ReportLine("$ VERI Call: " + line);
}

void VERILineBegin() {
  Verdicts.clear();
  CheckOpen = true;
  IClusterPort *port = VeriPort();
  if (port && port->FastRepliesSetting() == TFastReplies::Automatic) {
    TReplyRule fresh;
    fresh.Earning = true;
    port->SetReplyRule(fresh);
  }
}

void VERILineEnd() { CheckOpen = false; }

const std::map<uint8_t, TLineVerdict> &VERILineVerdicts() { return Verdicts; }

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

std::string VERIWithoutLineEnd(const std::string &raw) {
  size_t keep = raw.size();
  while (keep > 0 && raw.size() - keep < 2 &&
         (raw[keep - 1] == '\r' || raw[keep - 1] == '\n' || raw[keep - 1] == ' '))
    --keep;
  return raw.substr(0, keep);
}

std::string VERICutAnswer(uint8_t address, const std::string &command, const std::string &raw) {
  size_t n = VERIWords(VERIFrame(address, command)).size();
  std::string cut = VERIWithoutLineEnd(raw);
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
