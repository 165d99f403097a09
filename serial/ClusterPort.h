#pragma once
// What the controller transport needs of the serial line: send one frame,
// and take received clusters off the queue. TSerialPortNG implements it;
// transport tests use a fake queue.
#include <bitset>
#include <cstdint>
#include <string>

enum class TFastReplies : int { Off = 0, On = 1, Automatic = 2 };  // stored as 0, 1, 2

// Per controller address: whose complete replies close at their CR LF
// instead of the cut.
struct TReplyRule {
  std::bitset<256> Answers;   // replies with words after the echo (reads, VER, polls)
  std::bitset<256> EchoOnly;  // echo-only replies (writes, moves)
  // Automatic: a clean reply under the cut rule earns its address and kind.
  bool Earning = false;
  bool AtLineEnd() const { return Answers.any() || EchoOnly.any(); }
  static TReplyRule All() {
    TReplyRule r;
    r.Answers.set();
    return r;
  }
};

class IClusterPort {
public:
  virtual ~IClusterPort() = default;
  virtual void SendText(const std::string &text) = 0;
  // A command frame: `answerWords` tells whether its reply carries words
  // after the echo (a read) or is the echo alone (a write, a move).
  virtual void SendFrame(const std::string &text, bool answerWords) {
    (void)answerWords;
    SendText(text);
  }
  virtual int32_t NextClusterLength() = 0;        // -1 when the queue is empty
  virtual int32_t NextClusterCCError() = 0;       // -1 when the queue is empty
  virtual std::string ReadNextClusterText() = 0;  // "" when empty
  // True when nothing can cross the line: exchanges then fail at once.
  virtual bool LineDown() { return false; }
  // Waits up to `ms`, less when a cluster arrives; false when the port does
  // not wait (the caller sleeps itself).
  virtual bool WaitForCluster(uint32_t) { return false; }

  // "Replies end at the line end": the operator's setting, and the rule the
  // line closes replies by now (automatic: at the line end only while the
  // connection's line check passed).
  virtual TFastReplies FastRepliesSetting() const { return TFastReplies::Off; }
  virtual TReplyRule ReplyRule() const { return {}; }
  virtual void SetReplyRule(TReplyRule) {}
  // Bytes that came after a reply closed at its line end and wait inside
  // the port for a cluster: handed over to the caller's stale drain.
  virtual std::string TakeHeld() { return std::string(); }
};

// "off", "on", "automatic, at the line end" or "automatic, by the cut rule".
std::string ReplyRuleText(const IClusterPort &port);

// The line the controllers are reached through (SerialPortNG1 in the
// program). Null means no port: sends are dropped and nothing arrives.
IClusterPort *&VeriPort();
