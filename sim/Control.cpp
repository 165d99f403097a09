// Control commands: faults and machine states injected while the simulator runs.
#include <cmath>
#include <sstream>

#include "sim/Bus.h"

const char *ControlHelp() {
  return "Control commands (one a line; A is an address, \"1,3\" or \"all\";\n"
         "N is a count of replies, omitted = until cleared):\n"
         "  mute A | unmute A          stop answering at all (unplugged) / answer again\n"
         "  drop A [N]                 send no reply\n"
         "  delay A MS [N]             send replies MS ms later than usual\n"
         "  garble A [N]               flip the lowest bit of every printable non-blank\n"
         "                             character of the reply (line end kept)\n"
         "  wrongaddr A B [N]          answer with the echo of address B\n"
         "  split A MS [N]             send the reply in two halves MS ms apart\n"
         "                             (\"delay A 1200\" without N: a controller that\n"
         "                             answers every command after the 1 s wait)\n"
         "  noise A [N]                line noise: one bit flipped (0x10) in the byte\n"
         "                             in the middle of the reply\n"
         "  cut A [N]                  the reply cut short after its first half, no\n"
         "                             line end (the controller reset mid-answer)\n"
         "  twolines A [N]             the answer words on a line of their own: echo\n"
         "                             CR LF, answer CR LF (replies with answer words)\n"
         "  lineafter A [N]            a line \"READY\" CR LF right after the reply\n"
         "  foreign A [N]              also answer frames addressed to other\n"
         "                             controllers (with A's own address, echo only)\n"
         "  noeol A [N]                echo-only replies (writes, moves) without CR LF\n"
         "  lfonly A [N] | cronly A [N] every reply ends with LF (CR) alone\n"
         "  powercycle A [MS]          electronics off and on: silent for MS ms\n"
         "                             (default 500), then back unreferenced, motors\n"
         "                             off, registers and outputs clear\n"
         "  clear A                    end every fault of A (mute included)\n"
         "  estop A press|release      emergency stop: P1013 bit 2 clear, motion halts\n"
         "  limit A open|close         hardware limit switch: open sets P11 bit 13, stops\n"
         "  warn A BITS | error A BITS set bits in P12 / P11 (an error stops motion)\n"
         "  set A N V                  as if \"P<N>=<V>\" had been sent (no reply);\n"
         "                             N 1013 sets the inputs (bit 2 clear: stop pressed)\n"
         "  accel A MM_S2              ramps of every stroke (0: full speed at once)\n"
         "  pos A MM                   put the axis at MM (P51)\n"
         "  softlimits A MIN MAX       travel range in mm (defaults 0..540, 0..205, 0..250)\n"
         "  speedup F                  simulated motion runs F times faster than real time\n"
         "  latency KEY MS[:JITTER]    processing time of one kind of command, MS plus\n"
         "                             0..JITTER ms; KEY \"default\" for all others,\n"
         "                             \"poll\" the empty command, \"line\" a program\n"
         "                             line, else the command up to its ? or = without\n"
         "                             blanks (P51?, P134=, R0=, V=) or its first word\n"
         "                             (VER, QUIT, RUN)\n"
         "  latency reset              the processing times of the start\n"
         "  seed N                     new seed of the latency jitter\n";
}

namespace {

bool Addresses(TSimBus &bus, const std::string &text, std::vector<int> &out) {
  if (text == "all" || text == "*") {
    for (int a = 0; a <= 255; ++a)
      if (bus.Controller(a)) out.push_back(a);
    return !out.empty();
  }
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos) return false;
    int a = std::stoi(part);
    if (a > 255) return false;
    out.push_back(a);
  }
  return !out.empty();
}

bool Int(const std::string &t, int &v) {
  double d;
  if (!SimParseNumber(t, d) || d != std::floor(d)) return false;
  v = int(d);
  return true;
}

}  // namespace

std::string TSimBus::Control(const std::string &line, double nowMs) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  if (w.empty()) return "ok";
  const std::string &cmd = w[0];
  Note(nowMs, "control: " + line);
  double sim = SimNow(nowMs);

  if (cmd == "speedup" || cmd == "seed") {
    double v;
    if (w.size() != 2 || !SimParseNumber(w[1], v) || v < 0) return "error: " + cmd + " takes one number";
    if (cmd == "seed") {
      Seed(uint32_t(v));
    } else {
      if (v <= 0) return "error: speedup must be above 0";
      SetSpeedup(v, nowMs);
    }
    return "ok";
  }
  if (cmd == "latency") {
    TSimLatency l;
    if (w.size() == 2 && w[1] == "reset") {
      Latency = FirstLatency;
      CommandLatency = FirstCommandLatency;
    } else if (w.size() == 3 && SimParseLatency(w[2], l)) {
      if (w[1] == "default") Latency = l;
      else CommandLatency[w[1]] = l;
    } else {
      return "error: latency KEY MS[:JITTER] | latency reset";
    }
    return "ok";
  }
  std::vector<int> as;
  if (w.size() < 2 || !Addresses(*this, w[1], as)) return "error: " + cmd + " needs an address";
  auto count = [&](size_t at, int &n) {
    n = -1;
    if (w.size() == at) return true;
    return w.size() == at + 1 && Int(w[at], n) && n > 0;
  };
  for (int a : as) {
    TSimFaults &f = Faults(a);
    TSimController *c = Controller(a);
    int n, v;
    if (cmd == "mute" && w.size() == 2) f.Muted = true;
    else if (cmd == "unmute" && w.size() == 2) f.Muted = false;
    else if (cmd == "clear" && w.size() == 2) f = TSimFaults();
    else if (cmd == "drop" && count(2, n)) f.Drop = {n, 0};
    else if (cmd == "garble" && count(2, n)) f.Garble = {n, 0};
    else if (cmd == "noise" && count(2, n)) f.Noise = {n, 0};
    else if (cmd == "cut" && count(2, n)) f.Cut = {n, 0};
    else if (cmd == "twolines" && count(2, n)) f.TwoLines = {n, 0};
    else if (cmd == "lineafter" && count(2, n)) f.LineAfter = {n, 0};
    else if (cmd == "foreign" && count(2, n)) f.Foreign = {n, 0};
    else if (cmd == "noeol" && count(2, n)) f.NoLineEnd = {n, 0};
    else if (cmd == "lfonly" && count(2, n)) f.LineEnd = {n, '\n'};
    else if (cmd == "cronly" && count(2, n)) f.LineEnd = {n, '\r'};
    else if ((cmd == "delay" || cmd == "wrongaddr" || cmd == "split") && w.size() >= 3 && Int(w[2], v) &&
             v >= 0 && count(3, n)) {
      TSimFault ft{v == 0 && cmd == "delay" ? 0 : n, v};
      if (cmd == "delay") f.Delay = ft;
      else if (cmd == "wrongaddr") f.WrongAddress = ft;
      else f.Split = ft;
    } else if (!c) {
      return "error: no controller at address " + std::to_string(a);
    } else if (cmd == "estop" && w.size() == 3 && (w[2] == "press" || w[2] == "release")) {
      c->SetEmergencyStop(w[2] == "press", sim);
    } else if (cmd == "limit" && w.size() == 3 && (w[2] == "open" || w[2] == "close")) {
      c->SetLimitSwitch(w[2] == "open", sim);
    } else if (cmd == "powercycle" && (w.size() == 2 || (w.size() == 3 && Int(w[2], v) && v >= 0))) {
      c->PowerUp(sim);
      f.OffUntil = nowMs + (w.size() == 3 ? v : 500);
    } else if ((cmd == "warn" || cmd == "error") && w.size() == 3 && Int(w[2], v)) {
      c->Advance(sim);
      if (cmd == "warn") c->AddWarnings(v);
      else c->AddErrors(v, sim);
    } else if (cmd == "accel" && w.size() == 3) {
      double d;
      if (!SimParseNumber(w[2], d) || d < 0) return "error: accel needs a number";
      c->Advance(sim);
      c->Acceleration = d;
    } else if (cmd == "set" && w.size() == 4 && Int(w[2], v)) {
      double d;
      if (!SimParseNumber(w[3], d)) return "error: set needs a number";
      c->SetParameter(v, d, sim);
      for (auto &note : c->TakeNotes()) Note(nowMs, std::to_string(a) + " " + note);
    } else if (cmd == "pos" && w.size() == 3) {
      double d;
      if (!SimParseNumber(w[2], d)) return "error: pos needs a number";
      c->Advance(sim);
      c->Position = d;
    } else if (cmd == "softlimits" && w.size() == 4) {
      double lo, hi;
      if (!SimParseNumber(w[2], lo) || !SimParseNumber(w[3], hi) || lo > hi)
        return "error: softlimits MIN MAX";
      c->SetSoftLimits(lo, hi);
    } else {
      return "error: unknown or malformed command: " + line;
    }
  }
  return "ok";
}
