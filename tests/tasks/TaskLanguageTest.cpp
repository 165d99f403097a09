#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tasks/TaskLanguage.h"

namespace {

struct TCall {
  std::string Name;
  int Level;
  int Count;
  bool operator==(const TCall &o) const { return Name == o.Name && Level == o.Level && Count == o.Count; }
};

std::ostream &operator<<(std::ostream &os, const TCall &c) {
  return os << "(" << c.Name << ", " << c.Level << ", " << c.Count << ")";
}

struct TWalkResult {
  std::vector<TCall> Calls;
  uint16_t Error;
};

// Walks a line with a callback that records every call and never fails.
TWalkResult Walk(const std::string &line) {
  TWalkResult r;
  r.Error = ParseTask(line, TaskModeCheck, [&](const std::string &name, uint8_t m, uint8_t level, uint16_t &,
                                               int32_t count) {
    EXPECT_EQ(m, TaskModeCheck);
    r.Calls.push_back({name, level, count});
  });
  return r;
}

TEST(TaskLanguage, WalksEveryLineOfTheTable) {
  const std::vector<TCall> sixA(6, TCall{"A", 3, 1});
  const struct {
    std::string Line;
    std::vector<TCall> Calls;
    uint16_t Error;
  } rows[] = {
      {"A + B*2", {{"A", 1, 1}, {"B", 1, 2}, {"B", 1, 1}}, 0},
      {"(A + B)*2 + C", {{"A", 2, 1}, {"B", 2, 1}, {"A", 2, 1}, {"B", 2, 1}, {"C", 1, 1}}, 0},
      {"((A)*2)*3", sixA, 0},
      {"", {}, 1},
      {"     ", {}, 0},
      {"()", {}, 0},
      {"2A", {}, 2},
      {"+A", {}, 2},
      {"A B", {{"A", 1, 1}}, 16},
      {"A)", {{"A", 1, 1}}, 16},
      {"A * x", {}, 8},
      {"A * 3", {{"A", 1, 3}, {"A", 1, 2}, {"A", 1, 1}}, 0},
      {"A*2*3", {{"A", 1, 2}, {"A", 1, 1}}, 16},
      {"(A + B", {}, 4},
      {"A*0", {{"A", 1, 0}}, 0},
      {"A + *B", {{"A", 1, 1}, {"*B", 1, 1}}, 0},
      // A name ends before a "-"; the "-" then is a fault.
      {"Dip-1", {{"Dip", 1, 1}}, 16},
      {"Dip_1 + x2", {{"Dip_1", 1, 1}, {"x2", 1, 1}}, 0},
      // Tabs are not blanks: the tab starts a name of its own.
      {"A\t+ B", {{"A", 1, 1}}, 16},
      {"A  *  2  +  ( B )  ", {{"A", 1, 2}, {"A", 1, 1}, {"B", 2, 1}}, 0},
      {"(  )*3 + A", {{"A", 1, 1}}, 0},
      {"(A))", {{"A", 2, 1}}, 16},
      {"((A)", {}, 4},
      // A "+" followed by blanks only is no fault; one at the very end is.
      {"(A + )*2 + B", {{"A", 2, 1}, {"A", 2, 1}, {"B", 1, 1}}, 0},
      {"(A +)*2 + B", {{"A", 2, 1}}, 16},
      {"(+A)", {{"+A", 2, 1}}, 0},
      // Leading zeros are plain digits.
      {"A*003", {{"A", 1, 3}, {"A", 1, 2}, {"A", 1, 1}}, 0},
      // One more than the largest count, or very many digits, is a count
      // fault; earlier terms stay done.
      {"A*2147483648", {}, 8},
      {"A*99999999999999999999999999", {}, 8},
      {"(A)*4294967297", {}, 8},
      {"B + A*2147483648", {{"B", 1, 1}}, 8},
      // Ends on each kind of token at the very last character.
      {"A*", {}, 8},
      {"A *  ", {}, 8},
      {"(", {}, 4},
      {"A+", {{"A", 1, 1}}, 16},
      {"A +   ", {{"A", 1, 1}}, 0},
      // Found by fuzzing: empty groups with the largest counts walked 2^62
      // empty ranges without a single call, so neither STOP nor the event
      // pump got a chance. Their repetitions do nothing, so they end at once.
      {"(()*2147483647)*2147483647 + A", {{"A", 1, 1}}, 0},
      {"((  )*2147483647 + B)*2", {{"B", 2, 1}, {"B", 2, 1}}, 0},
      {"(()*2147483647 + )*3", {}, 0},
      {"((()*2147483647)*2147483647 + C*2)*2", {{"C", 2, 2}, {"C", 2, 1}, {"C", 2, 2}, {"C", 2, 1}}, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE("line [" + row.Line + "]");
    const TWalkResult r = Walk(row.Line);
    EXPECT_EQ(r.Calls, row.Calls);
    EXPECT_EQ(r.Error, row.Error);
  }
  EXPECT_EQ(ParseTask("A + B*3", TaskModeCheck, nullptr), 0);  // no callback is harmless
  EXPECT_EQ(ParseTask("A B", TaskModeCheck, nullptr), 16);
}

TEST(TaskLanguage, LargestCountAndCallbackFaults) {
  // The largest count is accepted; a fault from the callback cuts the walk.
  int calls = 0;
  uint16_t err = ParseTask("A*2147483647", TaskModeRun, [&](const std::string &, uint8_t, uint8_t, uint16_t &e,
                                                            int32_t count) {
    if (calls++ == 0) EXPECT_EQ(count, 2147483647);
    if (calls == 3) SetFlag(e, 9, true);
  });
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(err, 512);

  // The fault stops all enclosing walks.
  std::vector<std::string> names;
  err = ParseTask("((A + B + C)*2 + D)*3 + E", TaskModeRun,
                  [&](const std::string &name, uint8_t, uint8_t, uint16_t &e, int32_t) {
                    names.push_back(name);
                    if (name == "B") SetFlag(e, 12, true);
                  });
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(err, 4096);

  // A callback that clears its own bits lets the walk go on.
  names.clear();
  err = ParseTask("A + B + C", TaskModeCheck, [&](const std::string &name, uint8_t, uint8_t, uint16_t &e, int32_t) {
    names.push_back(name);
    SetFlag(e, 9, false);
  });
  EXPECT_EQ(err, 0);
  EXPECT_EQ(names.size(), 3u);
}

TEST(TaskLanguage, NeverReadsPastTheLine) {
  // The line lives in a buffer of exactly its own size, so a read past it is
  // caught by the sanitizer builds; the walk must end cleanly either way.
  std::string line = "A + B";
  line.resize(255, ' ');
  TWalkResult r = Walk(line);
  EXPECT_EQ(r.Error, 0);
  EXPECT_EQ(r.Calls, (std::vector<TCall>{{"A", 1, 1}, {"B", 1, 1}}));
  r = Walk("A*12");
  EXPECT_EQ(r.Error, 0);
  EXPECT_EQ(r.Calls.size(), 12u);

  // A line full of nested groups at the length limit.
  const std::string deep = std::string(127, '(') + "A" + std::string(127, ')');
  r = Walk(deep);
  EXPECT_EQ(r.Error, 0);
  EXPECT_EQ(r.Calls, (std::vector<TCall>{{"A", 128, 1}}));
}

TEST(TaskLanguage, BitsOutOfRangeAreIgnored) {
  EXPECT_TRUE(BitIsSet(31, 0x80000000u));
  EXPECT_FALSE(BitIsSet(32, 0xFFFFFFFFu));
  EXPECT_FALSE(BitIsSet(-1, 0xFFFFFFFFu));
  uint16_t w = 0;
  SetFlag(w, 15, true);
  SetFlag(w, 13, true);
  SetFlag(w, 13, false);
  SetFlag(w, 16, true);
  SetFlag(w, -1, true);
  EXPECT_EQ(w, 32768);
}

}  // namespace
