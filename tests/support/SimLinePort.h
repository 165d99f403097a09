#pragma once
// Simulated controllers on an in-process line: the real TSimBus, with time
// taken from the installed clock (the fake clock of THostFixture), so a move
// or a whole process runs against realistic controllers in microseconds.
// Installs itself as VeriPort() for its lifetime; install it after the
// THostFixture so its clock is the fake one.
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "base/Host.h"
#include "serial/ClusterPort.h"
#include "serial/ReplyEnd.h"
#include "sim/Bus.h"

class TSimLinePort : public IClusterPort {
public:
  explicit TSimLinePort(const std::vector<int> &addresses = {1, 2, 3}) : Bus(addresses), Saved(VeriPort()) {
    VeriPort() = this;
  }
  ~TSimLinePort() override { VeriPort() = Saved; }
  TSimLinePort(const TSimLinePort &) = delete;
  TSimLinePort &operator=(const TSimLinePort &) = delete;

  void SendText(const std::string &text) override { SendFrame(text, true); }
  void SendFrame(const std::string &text, bool answerWords) override {
    Take();
    Address.clear();
    EchoWords = ReplyWordCount(text, &Address);
    EchoEnds = !answerWords;
    const int a = Address.size() > 1 ? std::atoi(Address.c_str() + 1) : -1;
    Armed = Held.empty() && a >= 0 && a < 256 && (answerWords ? Rule.Answers : Rule.EchoOnly)[size_t(a)];
    Sent.push_back(text);
    Bus.Receive(text, Now());
  }
  int32_t NextClusterLength() override {
    Take();
    return Queue.empty() ? -1 : static_cast<int32_t>(Queue.front().size());
  }
  // The line as the port cuts it, on the fake clock: 19200 baud, bytes held
  // until the line was quiet for the cut time (10 bytes: 256 ms), or, by
  // the reply rule, until they are a complete reply to the frame last sent.
  void Paced(TFastReplies setting) {
    Bus.Baud = 19200;
    Cut = true;
    Setting = setting;
    Rule = setting == TFastReplies::On ? TReplyRule::All() : TReplyRule();
  }
  TFastReplies FastRepliesSetting() const override { return Setting; }
  TReplyRule ReplyRule() const override { return Rule; }
  void SetReplyRule(TReplyRule rule) override { Rule = rule; }
  // As the port: bytes are held only while some reply may close early.
  std::string TakeHeld() override { return Take(), Rule.AtLineEnd() ? std::exchange(Held, {}) : std::string(); }
  int32_t NextClusterCCError() override { return NextClusterLength() < 0 ? -1 : 0; }
  std::string ReadNextClusterText() override {
    if (NextClusterLength() < 0) return "";
    std::string t = Queue.front();
    Queue.pop_front();
    return t;
  }

  TSimBus Bus;
  TSimController &Ctl(int address) { return *Bus.Controller(address); }
  // Control command as the simulator's --control takes it ("drop 1 2", ...).
  std::string Control(const std::string &line) { return Bus.Control(line, Now()); }

  // Every frame sent, as sent (CR included).
  std::vector<std::string> Sent;
  // Frames sent to one address, without "#a " and CR (the commands).
  std::vector<std::string> Commands(int address) const {
    std::vector<std::string> out;
    const std::string head = "#" + std::to_string(address) + " ";
    for (auto &s : Sent) {
      if (s.compare(0, head.size(), head) != 0) continue;
      std::string c = s.substr(head.size());
      if (!c.empty() && c.back() == '\r') c.pop_back();
      out.push_back(c);
    }
    return out;
  }
  int64_t Now() const { return static_cast<int64_t>(GetTickCount()); }

private:
  void Take() {
    for (auto &piece : Bus.TakeDue(Now())) {
      if (!Cut) {
        Queue.push_back(piece);
        continue;
      }
      Held += piece;
      LastRx = Now();
    }
    if (Held.empty()) return;
    const bool quiet = Now() - LastRx > int64_t(Held.size() * 0.57 + 250);
    if (quiet || (Armed && ReplyComplete(Held, Address, EchoWords, EchoEnds))) {
      Queue.push_back(Held);
      Held.clear();
      Armed = false;
    }
  }
  bool Cut = false, Armed = false, EchoEnds = false;
  TFastReplies Setting = TFastReplies::Off;
  TReplyRule Rule;
  std::string Held, Address;
  size_t EchoWords = 0;
  int64_t LastRx = 0;
  std::deque<std::string> Queue;
  IClusterPort *Saved;
};
