#pragma once
// The shared line: cuts received bytes into frames, hands each frame to the
// addressed controller, builds the reply (echo, answer, CR LF) after the
// controller's processing time, applies the injected faults and sends the
// reply bytes at the line's rate, one reply after the other. Times are
// milliseconds since the simulator started; the caller passes them in, so
// tests need no clock.
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sim/Controller.h"

// One fault with its remaining count: -1 lasts until cleared, 0 is off.
struct TSimFault {
  int Count = 0;
  int Value = 0;
  bool Active() const { return Count != 0; }
  void Use() {
    if (Count > 0) --Count;
  }
};

struct TSimFaults {
  bool Muted = false;
  double OffUntil = -1;  // power-cycled: silent until then
  TSimFault Drop, Delay, Garble, WrongAddress, Split, Noise, Cut;
  // What a controller may do that closing a reply at its line end does not
  // allow for: the answer on a line of its own, a line after the reply,
  // answering frames addressed to others, an echo-only reply without CR LF.
  TSimFault TwoLines, LineAfter, Foreign, NoLineEnd;
  TSimFault LineEnd;  // Value: the one character that ends a reply (LF or CR)
};

// Processing time of a command: Ms plus a uniform draw of 0..Jitter ms.
struct TSimLatency {
  double Ms = 5, Jitter = 0;
};
// "MS[:JITTER]"; false if the text is not that.
bool SimParseLatency(const std::string &text, TSimLatency &latency);

class TSimBus {
public:
  explicit TSimBus(const std::vector<int> &addresses);

  // Log lines without their newline: "<ms> #1 VER", "<ms> -> ...", "<ms> !! ...".
  std::function<void(const std::string &)> Log;

  void Receive(const std::string &bytes, double nowMs);
  // Reply bytes whose time has come, oldest first (each piece is one write).
  // Also moves the axes on and logs their strokes.
  std::vector<std::string> TakeDue(double nowMs);
  // Time of the next reply byte or stroke end, or -1.
  double NextDue() const;

  // One control command (see ControlHelp()); "ok" or "error: ...".
  std::string Control(const std::string &line, double nowMs);

  TSimController *Controller(int address);
  TSimFaults &Faults(int address) { return FaultTable[address]; }
  double SimNow(double nowMs) const { return SimBase + (nowMs - RealBase) * Speedup; }
  double RealTime(double simMs) const { return RealBase + (simMs - SimBase) / Speedup; }
  void SetSpeedup(double factor, double nowMs);
  double Speedup = 1.0;
  // Line rate: 0 sends each reply in one write; else bytes of 10 bit times.
  int Baud = 0;
  // Echo each received character as it arrives, the answer after the
  // processing time.
  bool EchoLive = false;
  // Processing time of every command, and of single commands by key (see
  // LatencyKey()); "line" is a program line between NEW and QUIT.
  TSimLatency Latency;
  std::map<std::string, TSimLatency> CommandLatency;
  // The first values, which "latency reset" brings back.
  void KeepLatencies() { FirstLatency = Latency, FirstCommandLatency = CommandLatency; }
  void Seed(uint32_t seed);
  uint32_t SeedUsed = 1;
  void Note(double nowMs, const std::string &text);

private:
  struct TReply {
    double At;
    std::string Bytes;
  };
  std::map<int, TSimController> Controllers;
  std::map<int, TSimFaults> FaultTable;
  std::multimap<double, TReply> Outgoing;  // replies not yet begun
  std::string Sending;                     // the reply going out
  size_t SendingAt = 0;
  double NextByteAt = 0, LineFreeAt = 0;
  std::string Partial;
  bool PartialEchoed = false;
  double SimBase = 0, RealBase = 0;
  TSimLatency FirstLatency;
  std::map<std::string, TSimLatency> FirstCommandLatency;
  std::mt19937 Random{1};

  double ByteMs() const { return Baud > 0 ? 10000.0 / Baud : 0; }
  void Frame(const std::string &text, double nowMs);
  void EchoLiveChar(double nowMs);
  double ProcessingMs(const std::string &key);
  void Queue(double at, const std::string &bytes);
  void Strokes(double nowMs);
  bool Silent(int address, double nowMs);
  void Emit(double nowMs, const std::string &line);
};

// The key of a command for its processing time: "poll" for the empty
// command, else the command without blanks up to its first "?" or "="
// ("P51?", "P134=", "R0=", "V="), or its first word ("VER", "QUIT").
std::string LatencyKey(const std::string &command);

// Log form of bytes: CR, LF and TAB as \r \n \t, other control bytes as \xNN.
std::string SimEscape(const std::string &bytes);
// The text of --help's control section.
const char *ControlHelp();
