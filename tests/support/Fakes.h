#pragma once
// Fakes for the host interfaces: a report log kept in memory, an operator
// who answers from a script, a clock that jumps on Sleep, and an event pump
// that runs a test's hook (to press STOP in the middle of a wait, say).
#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/Host.h"
#include "base/OpState.h"

class TFakeReport : public IReportSink {
public:
  std::vector<std::string> Lines;
  void AppendLine(const std::string &line) override { Lines.push_back(line); }
  bool Has(const std::string &line) const {
    return std::find(Lines.begin(), Lines.end(), line) != Lines.end();
  }
  bool HasPrefix(const std::string &prefix) const {
    return std::any_of(Lines.begin(), Lines.end(),
                       [&](auto &l) { return l.compare(0, prefix.size(), prefix) == 0; });
  }
  std::string Joined() const {  // all lines, "\n" after each
    std::string s;
    for (auto &l : Lines) s += l + "\n";
    return s;
  }
};

struct TAsked {
  TMsgKind Kind;
  std::string Text;
  unsigned Buttons;
};

class TFakeOperator : public IOperator {
public:
  std::deque<unsigned> Answers;  // taken in order; when empty: first offered button
  std::vector<TAsked> Asked;
  unsigned Ask(TMsgKind kind, const std::string &text, unsigned buttons, unsigned, unsigned) override {
    Asked.push_back({kind, text, buttons});
    if (!Answers.empty()) {
      const unsigned a = Answers.front();
      Answers.pop_front();
      return a;
    }
    for (unsigned b = 1; b <= mbIgnore; b <<= 1)
      if (buttons & b) return b;
    return mbOK;
  }
  // Text boxes: each answer fills the fields in order; none left: closed.
  std::deque<std::vector<std::string>> TextAnswers;
  std::vector<std::vector<std::pair<std::string, std::string>>> TextsShown;
  bool AskTexts(const std::string &, std::vector<std::pair<std::string, std::string>> &fields) override {
    TextsShown.push_back(fields);
    if (TextAnswers.empty()) return false;
    for (size_t i = 0; i < fields.size() && i < TextAnswers.front().size(); ++i)
      fields[i].second = TextAnswers.front()[i];
    TextAnswers.pop_front();
    return true;
  }
};

class TFakeClock : public IClock {
public:
  uint32_t Now = 1000;
  uint64_t Slept = 0;
  std::function<void()> OnSleep;     // runs after each sleep
  int64_t WallBase = 1796650000000;  // a fixed day in December 2026, plus the ticks
  uint32_t GetTickCount() override { return Now; }
  int64_t WallMs() override { return WallBase + Now; }
  void Sleep(uint32_t ms) override {
    Now += ms;
    Slept += ms;
    if (OnSleep) OnSleep();
  }
};

class TFakeEvents : public IEventPump {
public:
  uint64_t Pumps = 0;
  std::function<void()> OnPump;
  void ProcessMessages() override {
    ++Pumps;
    if (OnPump) OnPump();
  }
};

// Installs the fakes into Host() for the life of the object and restores
// the previous host afterwards. ReportLevel is set to 2 unless told otherwise.
class THostFixture {
public:
  TFakeReport Report;
  TFakeOperator Operator;
  TFakeClock Clock;
  TFakeEvents Events;
  explicit THostFixture(uint8_t level = 2) : Saved(Host()), SavedLevel(ReportLevel) {
    Host().Report = &Report;
    Host().Operator = &Operator;
    Host().Clock = &Clock;
    Host().Events = &Events;
    ReportLevel = level;
    SetProgramEnding(false);  // a window closed by an earlier test
  }
  ~THostFixture() {
    Host() = Saved;
    ReportLevel = SavedLevel;
  }

private:
  THost Saved;
  uint8_t SavedLevel;
};
