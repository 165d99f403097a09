// The simulator's faults against closing replies at their line end: the
// bytes each one puts on the line, and their options on the command line.
#include <gtest/gtest.h>

#include "sim/Bus.h"
#include "sim/Server.h"

namespace {

std::string Reply(TSimBus &bus, const std::string &frame) {
  bus.Receive(frame, 0);
  std::string out;
  for (auto &p : bus.TakeDue(1000)) out += p;
  return out;
}

TEST(LineEndFaults, EachBreaksOneAssumptionAndEndsWithItsCount) {
  TSimBus bus({1, 2});
  ASSERT_EQ(bus.Control("twolines 1 1", 0), "ok");
  EXPECT_EQ(Reply(bus, "#1 P51?\r"), "#1 P51?\r\nP51=10\r\n");
  EXPECT_EQ(Reply(bus, "#1 P51?\r"), "#1 P51? P51=10\r\n");
  ASSERT_EQ(bus.Control("lineafter 1 1", 0), "ok");
  EXPECT_EQ(Reply(bus, "#1 VER\r"), "#1 VER VERISIM_1.0\r\nREADY\r\n");
  ASSERT_EQ(bus.Control("noeol 1", 0), "ok");
  EXPECT_EQ(Reply(bus, "#1 P12=0\r"), "#1 P12=0");
  EXPECT_EQ(Reply(bus, "#1 P12?\r"), "#1 P12? P12=0\r\n");  // only echo-only replies
  ASSERT_EQ(bus.Control("clear 1", 0), "ok");
  ASSERT_EQ(bus.Control("foreign 2 1", 0), "ok");
  EXPECT_EQ(Reply(bus, "#1 P12?\r"), "#1 P12? P12=0\r\n#2 P12?\r\n");
  EXPECT_EQ(Reply(bus, "#1 P12?\r"), "#1 P12? P12=0\r\n");
}

TEST(LineEndFaults, FaultOptionTakesControlCommandsOnly) {
  TSimOptions o;
  bool help = false;
  std::string error;
  EXPECT_TRUE(ParseSimOptions({"--fault", "twolines 1", "--fault", "foreign 3"}, o, help, error));
  EXPECT_EQ(o.Faults, (std::vector<std::string>{"twolines 1", "foreign 3"}));
  EXPECT_FALSE(ParseSimOptions({"--fault", "twolines"}, o, help, error));
  EXPECT_NE(ControlHelp(), std::string());
  EXPECT_NE(std::string(ControlHelp()).find("noeol A [N]"), std::string::npos);
}

}  // namespace
