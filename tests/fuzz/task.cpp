// Any bytes as a task line: the walk never reads past the line, hands over
// only names that stand in the line, sets only its own error bits, and
// makes no call after the error word became non-zero. The first byte picks
// the call at which the callback fails (0: never), the rest is the line.
#include <cstdint>
#include <string>

#include "tasks/TaskLanguage.h"
#include "Check.h"

namespace {

// A callback that never fails still ends a huge repeat count after this many
// calls, as a process failure would.
constexpr int CallBudget = 3000;
constexpr int BudgetBit = 13;

bool NameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const int failAt = data[0] % 32;           // 1..31: the call that fails
  const int failBit = 7 + data[0] / 32 % 6;  // one of bits 7..12
  // A read past the line, even one that stays inside the string's buffer,
  // stops on the bounds-checked operator[] of these builds.
  const std::string line(reinterpret_cast<const char *>(data + 1), size - 1);
  const uint8_t mode = size % 2 ? TaskModeCheck : TaskModeRun;

  int opens = 0;
  for (char c : line) opens += c == '(';
  int calls = 0;
  uint16_t setByCallback = 0;
  const uint16_t error = ParseTask(
      line, mode, [&](const std::string &name, uint8_t m, uint8_t level, uint16_t &err, int32_t count) {
        Check(err == 0);  // no call once the walk should have stopped
        Check(m == mode);
        Check(!name.empty() && name[0] != ' ' && name[0] != '(');
        for (size_t i = 1; i < name.size(); ++i) Check(NameChar(name[i]));
        Check(line.find(name) != std::string::npos);
        Check(count >= 0);
        // Lines of the task table (255 characters) cannot nest deep enough to
        // wrap the 8-bit level.
        if (opens < 255) Check(level >= 1 && level <= opens + 1);
        ++calls;
        if (calls == failAt || calls >= CallBudget) {
          SetFlag(err, calls == failAt ? failBit : BudgetBit, true);
          setByCallback = err;
        }
      });

  if (line.empty()) Check(error == 1 && calls == 0);
  if (setByCallback != 0) {
    // A callback's failure stops the walk with exactly its bit.
    Check(error == setByCallback);
  } else {
    Check((error & ~0x1F) == 0);
    // At most one of the walk's own faults: it stops at the first.
    Check((error & (error - 1)) == 0);
  }
  return 0;
}
