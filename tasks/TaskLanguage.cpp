#include "tasks/TaskLanguage.h"

#include <cstddef>

namespace {

constexpr int64_t MaxCount = 2147483647;

bool IsBlank(char c) { return c == ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsNameChar(char c) { return IsDigit(c) || IsLetter(c) || c == '_'; }

// One walk over a line. Positions count from 1 as the operator reads them;
// a range [first, last] with last < first is empty. Every read of a
// character checks the cursor against `last` first, so nothing past the
// line is ever looked at.
class TWalker {
public:
  TWalker(const std::string &line, uint8_t mode, const TaskTermCallback &callback)
      : Line(line), Mode(mode), Callback(callback) {}

  uint16_t Error = 0;
  uint64_t Calls = 0;  // names handed over so far

  void Walk(std::ptrdiff_t first, std::ptrdiff_t last, uint8_t level) {
    ++level;
    std::ptrdiff_t cur = first;
    for (;;) {
      SkipBlanks(cur, last);
      if (cur <= last) {
        if (!Term(cur, last, level)) return;
      }
      SkipBlanks(cur, last);
      if (cur > last) return;  // range done
      if (At(cur) == '+' && cur != last) {
        ++cur;
        continue;  // only blanks after it end the range like a blank line
      }
      SetFlag(Error, TaskErrJoin, true);
      return;
    }
  }

private:
  const std::string &Line;
  uint8_t Mode;
  const TaskTermCallback &Callback;

  char At(std::ptrdiff_t pos) const { return Line[static_cast<size_t>(pos - 1)]; }

  void SkipBlanks(std::ptrdiff_t &cur, std::ptrdiff_t last) const {
    while (cur <= last && IsBlank(At(cur))) ++cur;
  }

  // Reads and performs the term at `cur`; false when the walk must stop.
  bool Term(std::ptrdiff_t &cur, std::ptrdiff_t last, uint8_t level) {
    bool group = false;
    std::ptrdiff_t innerFirst = 0, innerLast = -1;
    std::string name;
    if (At(cur) == '(') {
      int depth = 1;
      std::ptrdiff_t p = cur + 1;
      for (; p <= last; ++p) {
        if (At(p) == '(') ++depth;
        else if (At(p) == ')' && --depth == 0) break;
      }
      if (p > last) {
        SetFlag(Error, TaskErrNoClose, true);
        return false;
      }
      group = true;
      innerFirst = cur + 1;
      innerLast = p - 1;
      cur = p + 1;
    } else {
      // Any first character but a blank or "(" starts a name; only name
      // characters extend it.
      std::ptrdiff_t end = cur + 1;
      while (end <= last && IsNameChar(At(end))) ++end;
      name = Line.substr(static_cast<size_t>(cur - 1), static_cast<size_t>(end - cur));
      cur = end;
    }

    int64_t count = 1;
    SkipBlanks(cur, last);
    if (cur <= last && At(cur) == '*') {
      ++cur;
      SkipBlanks(cur, last);
      if (cur > last || !IsDigit(At(cur))) {
        SetFlag(Error, TaskErrCount, true);
        return false;
      }
      count = 0;
      bool tooBig = false;
      while (cur <= last && IsDigit(At(cur))) {
        // Keep reading the digits, but never let the value itself overflow.
        if (!tooBig) {
          count = count * 10 + (At(cur) - '0');
          if (count > MaxCount) tooBig = true;
        }
        ++cur;
      }
      if (tooBig) {
        SetFlag(Error, TaskErrCount, true);
        return false;
      }
      SkipBlanks(cur, last);
    }

    // A count of 0 still performs the term once.
    for (int64_t k = 1;; ++k) {
      const uint64_t callsBefore = Calls;
      if (group) {
        Walk(innerFirst, innerLast, level);
      } else {
        ++Calls;
        if (Callback) Callback(name, Mode, level, Error, static_cast<int32_t>(count - k + 1));
      }
      if (Error != 0 || k >= count) break;
      // A group that named nothing would do nothing again: "(()*2147483647)*
      // 2147483647" must not keep the program busy for ages without a call.
      if (Calls == callsBefore) break;
    }
    return Error == 0;
  }
};

}  // namespace

uint16_t ParseTask(const std::string &line, uint8_t mode, const TaskTermCallback &callback) {
  uint16_t error = 0;
  if (line.empty()) {
    SetFlag(error, TaskErrEmpty, true);
    return error;
  }
  const char c = line[0];
  if (!(IsBlank(c) || c == '(' || IsLetter(c))) {
    SetFlag(error, TaskErrFirstChar, true);
    return error;
  }
  TWalker walker(line, mode, callback);
  walker.Walk(1, static_cast<std::ptrdiff_t>(line.size()), 0);
  return walker.Error;
}

bool BitIsSet(int n, uint32_t value) {
  if (n < 0 || n > 31) return false;
  return ((value >> n) & 1u) != 0;
}

void SetFlag(uint16_t &word, int n, bool on) {
  if (n < 0 || n > 15) return;
  const uint16_t mask = static_cast<uint16_t>(1u << n);
  if (on) word = static_cast<uint16_t>(word | mask);
  else word = static_cast<uint16_t>(word & ~mask);
}
