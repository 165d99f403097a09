#include "Fakes.h"

bool TFakeReport::Has(const std::string &line) const {
  for (auto &l : Lines) if (l == line) return true;
  return false;
}

bool TFakeReport::HasPrefix(const std::string &prefix) const {
  for (auto &l : Lines) if (l.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

std::string TFakeReport::Joined() const {
  std::string s;
  for (auto &l : Lines) s += l + "\n";
  return s;
}

unsigned TFakeOperator::Ask(TMsgKind kind, const std::string &text, unsigned buttons, unsigned,
                            unsigned) {
  Asked.push_back({kind, text, buttons});
  if (!Answers.empty()) {
    unsigned a = Answers.front();
    Answers.pop_front();
    return a;
  }
  for (unsigned b = 1; b <= mbIgnore; b <<= 1)
    if (buttons & b) return b;
  return mbOK;
}

THostFixture::THostFixture(uint8_t level) : Saved(Host()), SavedLevel(ReportLevel) {
  Host().Report = &Report;
  Host().Operator = &Operator;
  Host().Clock = &Clock;
  Host().Events = &Events;
  ReportLevel = level;
}

THostFixture::~THostFixture() {
  Host() = Saved;
  ReportLevel = SavedLevel;
}
