#pragma once
// The shared line: cuts received bytes into frames, hands each frame to the
// addressed controller, builds the reply (echo, answer, CR LF), applies the
// injected faults and schedules the reply bytes. Times are milliseconds since
// the simulator started; the caller passes them in, so tests need no clock.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/Controller.h"

// One fault with its remaining count: -1 lasts until cleared, 0 is off.
struct TSimFault {
  int Count = 0;
  int Value = 0;
  bool Active() const { return Count != 0; }
  void Use() { if (Count > 0) --Count; }
};

struct TSimFaults {
  bool Muted = false;
  TSimFault Drop, Delay, Garble, WrongAddress, Split;
};

class TSimBus {
public:
  explicit TSimBus(const std::vector<int> &addresses);

  // Log lines without their newline: "<ms> #1 VER", "<ms> -> ...", "<ms> !! ...".
  std::function<void(const std::string &)> Log;

  void Receive(const std::string &bytes, int64_t nowMs);
  // Reply pieces whose time has come, oldest first (each piece is one write).
  std::vector<std::string> TakeDue(int64_t nowMs);
  // Time of the next scheduled piece, or -1.
  int64_t NextDue() const;

  // One control command (see ControlHelp()); "ok" or "error: ...".
  std::string Control(const std::string &line, int64_t nowMs);

  TSimController *Controller(int address);
  TSimFaults &Faults(int address) { return FaultTable[address]; }
  double SimNow(int64_t nowMs) const { return SimBase + (nowMs - RealBase) * Speedup; }
  void SetSpeedup(double factor, int64_t nowMs);
  double Speedup = 1.0;
  int ReplyDelayMs = 5;
  void Note(int64_t nowMs, const std::string &text);

private:
  std::map<int, TSimController> Controllers;
  std::map<int, TSimFaults> FaultTable;
  std::multimap<int64_t, std::string> Outgoing;
  std::string Partial;
  double SimBase = 0;
  int64_t RealBase = 0;

  void Frame(const std::string &text, int64_t nowMs);
  void Emit(int64_t nowMs, const std::string &line);
};

// Log form of bytes: CR, LF and TAB as \r \n \t, other control bytes as \xNN.
std::string SimEscape(const std::string &bytes);
// The text of --help's control section.
const char *ControlHelp();
