#pragma once
// The line check: probe frames to each controller, read under the cut rule
// so that every byte of a reply (and whatever follows it) is seen, and a
// verdict per controller on what closing replies at their line end assumes:
// one line per reply, CR LF only at its end, nothing after it, only the
// addressed controller answering, echo-only replies ending with CR LF.
#include <cstdint>
#include <string>
#include <vector>

struct TLineVerdict {
  uint8_t Address = 0;
  bool Passed = true;
  std::string Broken;  // what broke, "" when passed
  std::string Seen;    // the probe's bytes (\r \n shown) and when they came
};

// Full: VER, a parameter read, an empty poll and a write that changes
// nothing; short (at every Connect): the read and the write. With the
// setting automatic the line closes replies at their end (echo-only ones
// too) exactly when every controller passed. Logs one line per controller
// and one for the rule; returns those lines for showing.
std::string VERICheckLine(const std::vector<uint8_t> &addresses, bool full,
                          std::vector<TLineVerdict> *verdicts = nullptr);
// The axes a check talks to: 1, 2, 3, without 2 on a two-motor machine.
std::vector<uint8_t> VERILineAxes();
