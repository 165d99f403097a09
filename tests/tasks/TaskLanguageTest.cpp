#include <gtest/gtest.h>

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

TEST(TaskLanguage, WalksEveryLineOfTheTable) {
  const struct {
    std::string Line;
    std::vector<TCall> Calls;
    uint16_t Error;
  } rows[] = {
      {"A + B*2", {{"A", 1, 1}, {"B", 1, 2}, {"B", 1, 1}}, 0},
      {"(A + B)*2 + C", {{"A", 2, 1}, {"B", 2, 1}, {"A", 2, 1}, {"B", 2, 1}, {"C", 1, 1}}, 0},
      {"((A)*2)*3", std::vector<TCall>(6, TCall{"A", 3, 1}), 0},
      {"A  *  3  ", {{"A", 1, 3}, {"A", 1, 2}, {"A", 1, 1}}, 0},
      {"", {}, 1},
      {"2A", {}, 2},
      {"(A + B", {}, 4},
      {"A * x", {}, 8},
      {"A*2147483648", {}, 8},
      {"A B", {{"A", 1, 1}}, 16},
      {"A +   ", {{"A", 1, 1}}, 0},
      {"(A + )*2 + B", {{"A", 2, 1}, {"A", 2, 1}, {"B", 1, 1}}, 0},
      // Found by fuzzing: empty groups with the largest counts walked 2^62
      // empty ranges; their repetitions do nothing, so they end at once.
      {"(()*2147483647)*2147483647 + A", {{"A", 1, 1}}, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE("line [" + row.Line + "]");
    std::vector<TCall> calls;
    const uint16_t error =
        ParseTask(row.Line, TaskModeCheck,
                  [&](const std::string &name, uint8_t, uint8_t level, uint16_t &, int32_t count) {
                    calls.push_back({name, level, count});
                  });
    EXPECT_EQ(calls, row.Calls);
    EXPECT_EQ(error, row.Error);
  }
}

TEST(TaskLanguage, AFaultFromAProcessStopsEveryEnclosingWalk) {
  std::vector<std::string> names;
  const uint16_t err = ParseTask("((A + B + C)*2 + D)*3 + E", TaskModeRun,
                                 [&](const std::string &name, uint8_t, uint8_t, uint16_t &e, int32_t) {
                                   names.push_back(name);
                                   if (name == "B") SetFlag(e, 12, true);
                                 });
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(err, 4096);
}

}  // namespace
