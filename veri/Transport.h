#pragma once
// The only way to the controllers: one framed command on the shared line,
// and where an answer is wanted, the next received cluster as the reply.
// Failures come back as texts that begin with "*".
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Sends a ready-made line and returns the next received cluster (about 1 s
// wait), or "*** SerialTalk: TimeOut  " / "*** SerialTalk: NextClusterCCError  ".
std::string SerialTalk(const std::string &line);
// Sends a ready-made line without waiting for a reply.
void SerialCall(const std::string &line);
// Frames a command for a controller and sends it; the reply is not read.
void VERICall(uint8_t address, const std::string &command);
// Frames, sends, waits and returns the answer words, each followed by one
// blank, or an error text beginning with "*".
std::string VERIDialog(uint8_t address, const std::string &command);

// The pieces of the above, open for tests.
std::string VERIFrame(uint8_t address, const std::string &command);
// Words are runs of characters above code 32.
std::vector<std::string> VERIWords(const std::string &text);
// The reply to `command` carries words after its echo (a read, VER, a poll);
// else it is the echo alone.
bool VERIAnswerWords(const std::string &command);
// A raw reply without its line end: CR LF, LF or CR alone (two characters
// cut blindly would take a digit from a reply ended by LF alone, "P12=16\n"
// read as 1), or an error text's two trailing blanks.
std::string VERIWithoutLineEnd(const std::string &raw);
// The answer of `address` to `command` cut out of a raw reply (see VERIDialog).
std::string VERICutAnswer(uint8_t address, const std::string &command, const std::string &raw);

// How long an answered exchange takes on this line, ms: a running mean of
// the recent ones (each weighs an eighth), 270 ms before the first (what a
// reply costs when the line's cut rule closes it).
double VERIExchangeMs();
// The same per kind of exchange: a reply with answer words (a read), an
// echo-only reply (a write, a move), a command sent unanswered with its
// pause (a call). A kind not yet seen gives the figure of all (a call: its
// 30 ms pause).
enum class TExchangeKind { Read, Write, Call };
double VERIExchangeMs(TExchangeKind kind);
constexpr double VERIDefaultExchangeMs = 270.0;
void VERIResetExchangeMs();  // back to the figure before the first

extern const char *const VERINoConnection;

// Automatic replies: with the setting automatic, a controller's first reply
// of a kind (with answer words; echo-only) comes under the cut rule, so every
// byte of it and whatever follows is seen. One line from its "#" to its only
// CR LF, nothing after it, earns that address and kind the line end. Whatever
// breaks that (here or later) puts the whole line back on the cut rule until
// the next Connect and is kept here against the controller at fault.
struct TLineVerdict {
  uint8_t Address = 0;
  bool Reads = false, Writes = false;  // earned the line end
  bool Passed = true;
  std::string Broken;  // what broke, in the controller's terms
  std::string Seen;    // its bytes (\r \n shown) and when they came
};
// A fresh start (Connect, "Check line"): nothing earned, every verdict
// gone; until VERILineEnd a break is kept for the check's report, not logged.
void VERILineBegin();
void VERILineEnd();
const std::map<uint8_t, TLineVerdict> &VERILineVerdicts();  // "*** VERIDialog: no connection to VERI  "
