#include "sim/Bus.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

std::string SimEscape(const std::string &bytes) {
  std::string s;
  for (unsigned char c : bytes) {
    if (c == '\r') s += "\\r";
    else if (c == '\n') s += "\\n";
    else if (c == '\t') s += "\\t";
    else if (c < 32 || c >= 127) {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      s += b;
    } else s += char(c);
  }
  return s;
}

bool SimParseLatency(const std::string &text, TSimLatency &latency) {
  const size_t colon = text.find(':');
  TSimLatency l;
  if (!SimParseNumber(text.substr(0, colon), l.Ms) || l.Ms < 0) return false;
  if (colon != std::string::npos && (!SimParseNumber(text.substr(colon + 1), l.Jitter) || l.Jitter < 0))
    return false;
  latency = l;
  return true;
}

std::string LatencyKey(const std::string &command) {
  std::string flat;
  for (unsigned char c : command)
    if (c > 32) flat += char(c);
  if (flat.empty()) return "poll";
  const size_t mark = flat.find_first_of("?=");
  if (mark != std::string::npos) return flat.substr(0, mark + 1);
  const size_t blank = command.find_first_of(" \t", command.find_first_not_of(" \t"));
  std::string first = command.substr(0, blank);
  first.erase(0, first.find_first_not_of(" \t"));
  return first;
}

TSimBus::TSimBus(const std::vector<int> &addresses) {
  // Travel of the robot in mm (X, Y, Z); other addresses get a generous range.
  const double travel[4] = {1000, 540, 205, 250};
  for (int a : addresses) {
    TSimController c(a);
    c.SetSoftLimits(0, a >= 1 && a <= 3 ? travel[a] : travel[0]);
    Controllers.emplace(a, c);
  }
}

TSimController *TSimBus::Controller(int address) {
  auto it = Controllers.find(address);
  return it == Controllers.end() ? nullptr : &it->second;
}

void TSimBus::SetSpeedup(double factor, double nowMs) {
  Strokes(nowMs);
  SimBase = SimNow(nowMs);
  RealBase = nowMs;
  Speedup = factor;
}

void TSimBus::Seed(uint32_t seed) {
  SeedUsed = seed;
  Random.seed(seed);
}

void TSimBus::Emit(double nowMs, const std::string &line) {
  if (Log) Log(std::to_string(int64_t(std::floor(nowMs))) + " " + line);
}

void TSimBus::Note(double nowMs, const std::string &text) { Emit(nowMs, "!! " + text); }

void TSimBus::Strokes(double nowMs) {
  for (auto &[address, c] : Controllers) {
    c.Advance(SimNow(nowMs));
    for (auto &s : c.TakeStrokes()) Emit(RealTime(s.AtMs), "== #" + std::to_string(address) + " " + s.Text);
  }
}

bool TSimBus::Silent(int address, double nowMs) {
  TSimFaults &f = Faults(address);
  return f.Muted || f.OffUntil > nowMs;
}

void TSimBus::Queue(double at, const std::string &bytes) {
  if (!bytes.empty()) Outgoing.emplace(at, TReply{at, bytes});
}

double TSimBus::ProcessingMs(const std::string &key) {
  auto it = CommandLatency.find(key);
  const TSimLatency &l = it == CommandLatency.end() ? Latency : it->second;
  if (l.Jitter <= 0) return l.Ms;
  return l.Ms + std::uniform_real_distribution<double>(0, l.Jitter)(Random);
}

// The words of a text, one blank apart.
static std::string Flat(const std::string &text) {
  std::string flat, word;
  for (unsigned char ch : text + " ") {
    if (ch <= 32) {
      if (!word.empty()) flat += (flat.empty() ? "" : " ") + word, word.clear();
    } else word += char(ch);
  }
  return flat;
}

// The address of a frame begun in Partial, once its blank has come; else -1.
static int BegunAddress(const std::string &partial) {
  size_t i = 1;
  while (i < partial.size() && i < 5 && std::isdigit(static_cast<unsigned char>(partial[i]))) ++i;
  if (partial.size() < 3 || partial[0] != '#' || i == 1 || i >= partial.size() || partial[i] != ' ')
    return -1;
  return std::stoi(partial.substr(1, i - 1));
}

void TSimBus::EchoLiveChar(double nowMs) {
  if (PartialEchoed) {
    Queue(nowMs, Partial.substr(Partial.size() - 1));
    return;
  }
  const int a = BegunAddress(Partial);
  if (a < 0 || !Controller(a) || Silent(a, nowMs)) return;
  PartialEchoed = true;
  Queue(nowMs, Partial);
}

void TSimBus::Receive(const std::string &bytes, double nowMs) {
  double at = nowMs;
  for (char c : bytes) {
    at += ByteMs();  // the byte is in once its stop bit is
    if (c == '\r') {
      Frame(Partial, at);
      Partial.clear();
      PartialEchoed = false;
    } else if (c == '\n' && Partial.empty()) {
      // a stray line feed between frames
    } else {
      Partial += c;
      if (Partial.size() > 4096) Partial.erase(0, Partial.size() - 4096), PartialEchoed = false;
      if (EchoLive) EchoLiveChar(at);
    }
  }
}

void TSimBus::Frame(const std::string &text, double nowMs) {
  // "#" address blank command; anything else is noise on the line.
  size_t i = 1;
  while (i < text.size() && i < 5 && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  bool framed = text.size() > 1 && text[0] == '#' && i > 1 && (i == text.size() || text[i] == ' ');
  if (!framed) {
    Emit(nowMs, "?? " + SimEscape(text));
    return;
  }
  Strokes(nowMs);
  Emit(nowMs, SimEscape(text));
  int address = std::stoi(text.substr(1, i - 1));
  std::string command = i < text.size() ? text.substr(i + 1) : "";
  TSimController *c = Controller(address);
  // A controller that takes frames to others for its own: it answers with
  // its own address, after the addressed one.
  for (auto &[other, oc] : Controllers) {
    TSimFaults &of = Faults(other);
    if (other == address || !of.Foreign.Active() || Silent(other, nowMs)) continue;
    of.Foreign.Use();
    Note(nowMs, std::to_string(other) + " answers a frame to " + std::to_string(address));
    const std::string words = Flat(command);
    Queue(nowMs + ProcessingMs("default") + 1,
          "#" + std::to_string(other) + (words.empty() ? "" : " ") + words + "\r\n");
  }
  if (!c) return;
  TSimFaults &f = Faults(address);
  if (f.OffUntil > nowMs) return;  // switched off: hears nothing
  std::string key = LatencyKey(command);
  if (c->EnteringProgram() && key != "QUIT") key = "line";
  std::string answer = c->Execute(command, SimNow(nowMs));
  for (auto &n : c->TakeNotes()) Note(nowMs, std::to_string(address) + " " + n);
  Strokes(nowMs);

  if (f.Muted) return;
  if (f.Drop.Active()) {
    f.Drop.Use();
    Note(nowMs, std::to_string(address) + " reply dropped");
    return;
  }
  std::string body;
  if (EchoLive) {
    // The echo went out as the characters came; only the answer follows.
    body = answer.empty() ? "" : " " + answer;
  } else {
    // Echo: the frame's words, one blank apart.
    std::string echo = Flat(text);
    if (f.WrongAddress.Active()) {
      f.WrongAddress.Use();
      echo = "#" + std::to_string(f.WrongAddress.Value) + echo.substr(i);
    }
    body = answer.empty() ? echo : echo + " " + answer;
  }
  if (f.Garble.Active()) {
    f.Garble.Use();
    for (char &ch : body)
      if (ch > 32 && ch < 127) ch ^= 1;
  }
  if (f.Noise.Active() && !body.empty()) {
    // One bit flipped in the middle of the reply.
    f.Noise.Use();
    body[(body.size() - 1) / 2] ^= 0x10;
    Note(nowMs, std::to_string(address) + " noise in the reply");
  }
  std::string reply = body + "\r\n";
  if (f.TwoLines.Active() && !answer.empty() && !EchoLive) {
    f.TwoLines.Use();
    const size_t cut = body.size() - answer.size() - 1;
    reply = body.substr(0, cut) + "\r\n" + body.substr(cut + 1) + "\r\n";
    Note(nowMs, std::to_string(address) + " reply in two lines");
  }
  if (f.NoLineEnd.Active() && answer.empty()) {
    f.NoLineEnd.Use();
    reply = body;
    Note(nowMs, std::to_string(address) + " echo without its line end");
  }
  if (f.LineEnd.Active() && reply.size() >= 2 && reply.compare(reply.size() - 2, 2, "\r\n") == 0) {
    f.LineEnd.Use();
    reply = reply.substr(0, reply.size() - 2) + char(f.LineEnd.Value);
  }
  if (f.LineAfter.Active()) {
    f.LineAfter.Use();
    reply += "READY\r\n";
    Note(nowMs, std::to_string(address) + " a line after the reply");
  }
  if (f.Cut.Active()) {
    // The controller resets while answering: the rest never comes.
    f.Cut.Use();
    reply.resize(reply.size() / 2);
    Note(nowMs, std::to_string(address) + " reply cut short");
  }
  double due = nowMs + ProcessingMs(key);
  if (f.Delay.Active()) {
    due += f.Delay.Value;
    f.Delay.Use();
  }
  if (f.Split.Active()) {
    size_t half = reply.size() / 2;
    Queue(due, reply.substr(0, half));
    Queue(due + f.Split.Value, reply.substr(half));
    f.Split.Use();
  } else {
    Queue(due, reply);
  }
}

std::vector<std::string> TSimBus::TakeDue(double nowMs) {
  Strokes(nowMs);
  std::vector<std::string> due;
  std::string piece;
  for (;;) {
    if (SendingAt >= Sending.size()) {
      if (Outgoing.empty()) break;
      auto it = Outgoing.begin();
      const double start = std::max(it->first, LineFreeAt);
      if (start > nowMs) break;
      Sending = it->second.Bytes;
      SendingAt = 0;
      NextByteAt = start;
      Outgoing.erase(it);
      Emit(nowMs, "-> " + SimEscape(Sending));
    }
    if (Baud <= 0) {
      // Unpaced: each reply is one write.
      due.push_back(Sending);
      SendingAt = Sending.size();
      LineFreeAt = NextByteAt;
      continue;
    }
    while (SendingAt < Sending.size() && NextByteAt <= nowMs) {
      piece += Sending[SendingAt++];
      NextByteAt += ByteMs();
    }
    if (SendingAt < Sending.size()) break;
    LineFreeAt = NextByteAt;
  }
  if (!piece.empty()) due.push_back(piece);
  return due;
}

double TSimBus::NextDue() const {
  double next = -1;
  auto take = [&](double t) {
    if (next < 0 || t < next) next = t;
  };
  if (SendingAt < Sending.size()) take(NextByteAt);
  else if (!Outgoing.empty()) take(std::max(Outgoing.begin()->first, LineFreeAt));
  for (auto &[address, c] : Controllers) {
    const double end = c.NextStrokeEnd();
    if (end >= 0) take(RealTime(end));
  }
  return next;
}
