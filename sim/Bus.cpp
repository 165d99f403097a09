#include "sim/Bus.h"

#include <cctype>
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

void TSimBus::SetSpeedup(double factor, int64_t nowMs) {
  SimBase = SimNow(nowMs);
  RealBase = nowMs;
  Speedup = factor;
}

void TSimBus::Emit(int64_t nowMs, const std::string &line) {
  if (Log) Log(std::to_string(nowMs) + " " + line);
}

void TSimBus::Note(int64_t nowMs, const std::string &text) { Emit(nowMs, "!! " + text); }

void TSimBus::Receive(const std::string &bytes, int64_t nowMs) {
  for (char c : bytes) {
    if (c == '\r') {
      Frame(Partial, nowMs);
      Partial.clear();
    } else if (c == '\n' && Partial.empty()) {
      // a stray line feed between frames
    } else {
      Partial += c;
      if (Partial.size() > 4096) Partial.erase(0, Partial.size() - 4096);
    }
  }
}

void TSimBus::Frame(const std::string &text, int64_t nowMs) {
  // "#" address blank command; anything else is noise on the line.
  size_t i = 1;
  while (i < text.size() && i < 5 && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  bool framed = text.size() > 1 && text[0] == '#' && i > 1 && (i == text.size() || text[i] == ' ');
  if (!framed) {
    Emit(nowMs, "?? " + SimEscape(text));
    return;
  }
  Emit(nowMs, SimEscape(text));
  int address = std::stoi(text.substr(1, i - 1));
  std::string command = i < text.size() ? text.substr(i + 1) : "";
  TSimController *c = Controller(address);
  if (!c) return;
  std::string answer = c->Execute(command, SimNow(nowMs));
  for (auto &n : c->TakeNotes()) Note(nowMs, std::to_string(address) + " " + n);

  TSimFaults &f = Faults(address);
  if (f.Muted) return;
  if (f.Drop.Active()) {
    f.Drop.Use();
    Note(nowMs, std::to_string(address) + " reply dropped");
    return;
  }
  // Echo: the frame's words, one blank apart.
  std::string echo;
  std::string word;
  std::string all = text + " ";
  for (unsigned char ch : all) {
    if (ch <= 32) {
      if (!word.empty()) echo += (echo.empty() ? "" : " ") + word, word.clear();
    } else word += char(ch);
  }
  if (f.WrongAddress.Active()) {
    f.WrongAddress.Use();
    echo = "#" + std::to_string(f.WrongAddress.Value) + echo.substr(i);
  }
  std::string body = answer.empty() ? echo : echo + " " + answer;
  if (f.Garble.Active()) {
    f.Garble.Use();
    for (char &ch : body)
      if (ch > 32 && ch < 127) ch ^= 1;
  }
  std::string reply = body + "\r\n";
  int64_t due = nowMs + ReplyDelayMs;
  if (f.Delay.Active()) {
    due += f.Delay.Value;
    f.Delay.Use();
  }
  if (f.Split.Active()) {
    size_t half = reply.size() / 2;
    Outgoing.emplace(due, reply.substr(0, half));
    Outgoing.emplace(due + f.Split.Value, reply.substr(half));
    f.Split.Use();
  } else {
    Outgoing.emplace(due, reply);
  }
}

std::vector<std::string> TSimBus::TakeDue(int64_t nowMs) {
  std::vector<std::string> due;
  while (!Outgoing.empty() && Outgoing.begin()->first <= nowMs) {
    due.push_back(Outgoing.begin()->second);
    Emit(nowMs, "-> " + SimEscape(Outgoing.begin()->second));
    Outgoing.erase(Outgoing.begin());
  }
  return due;
}

int64_t TSimBus::NextDue() const { return Outgoing.empty() ? -1 : Outgoing.begin()->first; }
