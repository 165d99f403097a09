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
TWalkResult Walk(const std::string &line, uint8_t mode = TaskModeCheck) {
  TWalkResult r;
  r.Error = ParseTask(line, mode, [&](const std::string &name, uint8_t m, uint8_t level, uint16_t &, int32_t count) {
    EXPECT_EQ(m, mode);
    r.Calls.push_back({name, level, count});
  });
  return r;
}

struct TRow {
  const char *Line;
  std::vector<TCall> Calls;
  uint16_t Error;
};

TEST(TaskLanguage, WalksEveryLineOfTheTable) {
  const std::vector<TCall> sixA(6, TCall{"A", 3, 1});
  const TRow rows[] = {
      {"A + B*2", {{"A", 1, 1}, {"B", 1, 2}, {"B", 1, 1}}, 0},
      {"(A + B)*2 + C", {{"A", 2, 1}, {"B", 2, 1}, {"A", 2, 1}, {"B", 2, 1}, {"C", 1, 1}}, 0},
      {"((A)*2)*3", sixA, 0},
      {"", {}, 1},
      {"     ", {}, 0},
      {"()", {}, 0},
      {"2A", {}, 2},
      {"+A", {}, 2},
      {" A", {{"A", 1, 1}}, 0},
      {"A B", {{"A", 1, 1}}, 16},
      {"A +", {{"A", 1, 1}}, 16},
      {"A)", {{"A", 1, 1}}, 16},
      {"A*", {}, 8},
      {"A * x", {}, 8},
      {"A * 3", {{"A", 1, 3}, {"A", 1, 2}, {"A", 1, 1}}, 0},
      {"A*2*3", {{"A", 1, 2}, {"A", 1, 1}}, 16},
      {"(A + B", {}, 4},
      {"A*0", {{"A", 1, 0}}, 0},
      {"A + *B", {{"A", 1, 1}, {"*B", 1, 1}}, 0},
  };
  for (const TRow &row : rows) {
    SCOPED_TRACE(std::string("line [") + row.Line + "]");
    const TWalkResult r = Walk(row.Line);
    EXPECT_EQ(r.Calls, row.Calls);
    EXPECT_EQ(r.Error, row.Error);
  }
}

TEST(TaskLanguage, NamesCountsAndBlanks) {
  const TRow rows[] = {
      // A name ends before a "-"; the "-" then is a fault.
      {"Dip-1", {{"Dip", 1, 1}}, 16},
      {"Dip_1 + x2", {{"Dip_1", 1, 1}, {"x2", 1, 1}}, 0},
      // Tabs are not blanks: the tab starts a name of its own.
      {"A\t+ B", {{"A", 1, 1}}, 16},
      {"A  *  2  +  ( B )  ", {{"A", 1, 2}, {"A", 1, 1}, {"B", 2, 1}}, 0},
      {"(A)*2 + (B*2)", {{"A", 2, 1}, {"A", 2, 1}, {"B", 2, 2}, {"B", 2, 1}}, 0},
      {"(  )*3 + A", {{"A", 1, 1}}, 0},
      {"(A))", {{"A", 2, 1}}, 16},
      {"((A)", {}, 4},
      {"(A + )", {{"A", 2, 1}}, 16},
      {"A +   ", {{"A", 1, 1}}, 16},
      {"(A +)*2 + B", {{"A", 2, 1}}, 16},
      {"a+b", {{"a", 1, 1}, {"b", 1, 1}}, 0},
      {"(+A)", {{"+A", 2, 1}}, 0},
  };
  for (const TRow &row : rows) {
    const std::string line = row.Line;
    SCOPED_TRACE("line [" + line + "]");
    const TWalkResult r = Walk(line);
    EXPECT_EQ(r.Calls, row.Calls);
    EXPECT_EQ(r.Error, row.Error);
  }
}

TEST(TaskLanguage, CountLimits) {
  // Leading zeros are plain digits.
  TWalkResult r = Walk("A*003");
  EXPECT_EQ(r.Error, 0);
  ASSERT_EQ(r.Calls.size(), 3u);
  EXPECT_EQ(r.Calls.front().Count, 3);

  // The largest count is accepted; the walk is cut short by the callback.
  uint16_t seen = 0;
  int calls = 0;
  uint16_t err = ParseTask("A*2147483647", TaskModeRun,
                           [&](const std::string &, uint8_t, uint8_t, uint16_t &e, int32_t count) {
                             if (calls++ == 0) {
                               EXPECT_EQ(count, 2147483647);
                             }
                             if (calls == 3) SetFlag(e, 9, true);
                             seen = e;
                           });
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(err, 512);
  EXPECT_EQ(seen, 512);

  // One more, or very many digits, is a count fault and nothing runs.
  for (const char *line : {"A*2147483648", "A*99999999999999999999999999", "(A)*4294967297"}) {
    SCOPED_TRACE(line);
    r = Walk(line);
    EXPECT_TRUE(r.Calls.empty());
    EXPECT_EQ(r.Error, 8);
  }
  // A fault after earlier terms leaves them done.
  r = Walk("B + A*2147483648");
  EXPECT_EQ(r.Calls, (std::vector<TCall>{{"B", 1, 1}}));
  EXPECT_EQ(r.Error, 8);
}

TEST(TaskLanguage, CallbackFaultStopsAllEnclosingWalks) {
  std::vector<std::string> names;
  const uint16_t err = ParseTask("((A + B + C)*2 + D)*3 + E", TaskModeRun,
                                 [&](const std::string &name, uint8_t, uint8_t, uint16_t &e, int32_t) {
                                   names.push_back(name);
                                   if (name == "B") SetFlag(e, 12, true);
                                 });
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(err, 4096);

  // A callback that clears its own bits lets the walk go on.
  names.clear();
  const uint16_t ok = ParseTask("A + B + C", TaskModeCheck,
                                [&](const std::string &name, uint8_t, uint8_t, uint16_t &e, int32_t) {
                                  names.push_back(name);
                                  SetFlag(e, 9, false);
                                });
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(names.size(), 3u);
}

TEST(TaskLanguage, NeverReadsPastTheLine) {
  // The line lives in a buffer of exactly its own size, so a read past it is
  // caught by the sanitizer builds; the walk must end cleanly either way.
  std::string line = "A + B";
  line.resize(255, ' ');
  ASSERT_EQ(line.size(), 255u);
  TWalkResult r = Walk(line);
  EXPECT_EQ(r.Error, 0);
  EXPECT_EQ(r.Calls, (std::vector<TCall>{{"A", 1, 1}, {"B", 1, 1}}));

  // Ends on each kind of token at the very last character.
  const TRow rows[] = {
      {"A*", {}, 8}, {"A *  ", {}, 8}, {"(", {}, 4}, {"A+", {{"A", 1, 1}}, 16}, {"A*12", {{"A", 1, 12}}, 0},
  };
  for (const TRow &row : rows) {
    const std::string l(row.Line);
    const TWalkResult w = Walk(l);
    EXPECT_EQ(w.Error, row.Error) << l;
    if (row.Calls.size() == 1 && row.Calls[0].Count == 12) EXPECT_EQ(w.Calls.size(), 12u);
    else EXPECT_EQ(w.Calls, row.Calls) << l;
  }

  // A line full of nested groups at the length limit.
  std::string deep(127, '(');
  deep += "A";
  deep += std::string(127, ')');
  ASSERT_EQ(deep.size(), 255u);
  r = Walk(deep);
  EXPECT_EQ(r.Error, 0);
  EXPECT_EQ(r.Calls, (std::vector<TCall>{{"A", 128, 1}}));
}

TEST(TaskLanguage, GroupsThatNameNothingAreNotRepeatedForAges) {
  // Found by fuzzing: empty groups with the largest counts walked 2^62
  // empty ranges without a single call, so neither STOP nor the event pump
  // got a chance. Their repetitions do nothing, so they end at once.
  const TRow rows[] = {
      {"(()*2147483647)*2147483647 + A", {{"A", 1, 1}}, 0},
      {"((  )*2147483647 + B)*2", {{"B", 2, 1}, {"B", 2, 1}}, 0},
      {"(()*2147483647 + )*3", {}, 16},
      {"((()*2147483647)*2147483647 + C*2)*2",
       {{"C", 2, 2}, {"C", 2, 1}, {"C", 2, 2}, {"C", 2, 1}}, 0},
  };
  for (const TRow &row : rows) {
    const std::string line = row.Line;
    SCOPED_TRACE("line [" + line + "]");
    const TWalkResult r = Walk(line);
    EXPECT_EQ(r.Calls, row.Calls);
    EXPECT_EQ(r.Error, row.Error);
  }
}

TEST(TaskLanguage, NoCallbackIsHarmless) {
  EXPECT_EQ(ParseTask("A + B*3", TaskModeCheck, nullptr), 0);
  EXPECT_EQ(ParseTask("A B", TaskModeCheck, nullptr), 16);
}

TEST(TaskLanguage, BitOperations) {
  EXPECT_TRUE(BitIsSet(0, 1));
  EXPECT_FALSE(BitIsSet(1, 1));
  EXPECT_TRUE(BitIsSet(2, 4));
  EXPECT_FALSE(BitIsSet(2, 3));
  EXPECT_TRUE(BitIsSet(31, 0x80000000u));
  EXPECT_FALSE(BitIsSet(32, 0xFFFFFFFFu));
  EXPECT_FALSE(BitIsSet(-1, 0xFFFFFFFFu));

  uint16_t w = 0;
  SetFlag(w, 13, true);
  SetFlag(w, 7, true);
  EXPECT_EQ(w, 8192 + 128);
  SetFlag(w, 13, false);
  EXPECT_EQ(w, 128);
  SetFlag(w, 15, true);
  EXPECT_EQ(w, 128 + 32768);
  SetFlag(w, 16, true);
  SetFlag(w, -1, true);
  EXPECT_EQ(w, 128 + 32768);
}

}  // namespace
