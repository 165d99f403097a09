// Frames, replies and faults on the simulated line, with times passed in.
#include <gtest/gtest.h>

#include "sim/Bus.h"
#include "sim/Server.h"

namespace {

struct TLine {
  TSimBus Bus{{1, 2, 3}};
  std::vector<std::string> LogLines;
  int64_t Now = 0;
  TLine() {
    Bus.Log = [this](const std::string &l) { LogLines.push_back(l); };
  }
  // Sends a frame and collects everything written within the next ms.
  std::vector<std::string> Talk(const std::string &bytes, int64_t ms = 10) {
    Bus.Receive(bytes, Now);
    std::vector<std::string> out;
    for (int64_t end = Now + ms; Now <= end; ++Now)
      for (auto &p : Bus.TakeDue(Now)) out.push_back(p);
    return out;
  }
  std::string One(const std::string &bytes) {
    auto out = Talk(bytes);
    return out.size() == 1 ? out[0] : "<" + std::to_string(out.size()) + " pieces>";
  }
};

using V = std::vector<std::string>;

}  // namespace

TEST(SimBus, EchoesTheFrameAndAnswersOnlyItsAddress) {
  TLine t;
  EXPECT_EQ(t.One("#1 VER\r"), "#1 VER VERISIM_1.0\r\n");
  EXPECT_EQ(t.One("#3 P134?\r"), "#3 P134? OFF\r\n");
  EXPECT_EQ(t.One("#3 R0  =  12.5000\r"), "#3 R0 = 12.5000\r\n");
  EXPECT_TRUE(t.Talk("#4 VER\r").empty());
  EXPECT_TRUE(t.Talk("garbage\r").empty());
  // A frame that arrives in pieces is one frame; a stray LF is ignored.
  t.Bus.Receive("#2 P4", t.Now);
  EXPECT_EQ(t.One("03?\r\n"), "#2 P403? P403=5\r\n");
  // The reply comes a few ms after the frame, not at once.
  t.Bus.Receive("#1 VER\r", t.Now);
  EXPECT_TRUE(t.Bus.TakeDue(t.Now).empty());
  EXPECT_EQ(t.Bus.NextDue(), t.Now + 5);
  EXPECT_EQ(t.Bus.TakeDue(t.Now + 5).size(), 1u);
}

TEST(SimBus, FaultsPerAxisForNRepliesOrUntilCleared) {
  TLine t;
  EXPECT_EQ(t.Bus.Control("drop 1 2", t.Now), "ok");
  EXPECT_TRUE(t.Talk("#1 VER\r").empty());
  EXPECT_EQ(t.One("#2 VER\r"), "#2 VER VERISIM_1.0\r\n");  // other axes unaffected
  EXPECT_TRUE(t.Talk("#1 VER\r").empty());
  EXPECT_EQ(t.One("#1 VER\r"), "#1 VER VERISIM_1.0\r\n");

  // Muted: silent, but the command still acts.
  t.Bus.Control("mute 3", t.Now);
  EXPECT_TRUE(t.Talk("#3 P134=7\r").empty());
  t.Bus.Control("unmute 3", t.Now);
  EXPECT_EQ(t.One("#3 P134?\r"), "#3 P134? ON\r\n");

  t.Bus.Control("garble 2 1", t.Now);
  EXPECT_EQ(t.One("#2 P12?\r"), "\"3 Q03> Q03<1\r\n");
  EXPECT_EQ(t.One("#2 P12?\r"), "#2 P12? P12=0\r\n");

  // A late reply: 1500 ms after the frame, then back to normal.
  t.Bus.Control("delay 1 1500 1", t.Now);
  int64_t sent = t.Now;
  EXPECT_TRUE(t.Talk("#1 VER\r", 1000).empty());
  auto late = t.Talk("", 600);
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(t.LogLines.back(), std::to_string(sent + 1505) + " -> #1 VER VERISIM_1.0\\r\\n");
  EXPECT_EQ(t.Talk("#1 VER\r").size(), 1u);

  // Split: two writes 400 ms apart that make up the reply.
  t.Bus.Control("split all 400", t.Now);
  auto first = t.Talk("#3 VER\r", 100);
  auto second = t.Talk("", 400);
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0] + second[0], "#3 VER VERISIM_1.0\r\n");
  t.Bus.Control("clear all", t.Now);
  EXPECT_EQ(t.Talk("#3 VER\r").size(), 1u);
}

TEST(SimBus, ControlCommandsSetMachineStates) {
  TLine t;
  EXPECT_EQ(t.Bus.Control("estop all press", t.Now), "ok");
  EXPECT_EQ(t.One("#2 P1013?\r"), "#2 P1013? P1013=0\r\n");
  t.Bus.Control("estop 2 release", t.Now);
  EXPECT_EQ(t.One("#2 P1013?\r"), "#2 P1013? P1013=4\r\n");
  EXPECT_EQ(t.One("#1 P1013?\r"), "#1 P1013? P1013=0\r\n");
  t.Bus.Control("warn 1,3 5", t.Now);
  t.Bus.Control("error 3 8194", t.Now);
  EXPECT_EQ(t.One("#1 \r"), "#1 OK3\r\n");
  EXPECT_EQ(t.One("#3 \r"), "#3 OK4\r\n");
  EXPECT_EQ(t.One("#3 P11?\r"), "#3 P11? P11=8194\r\n");
  t.Bus.Control("limit 2 open", t.Now);
  EXPECT_EQ(t.One("#2 P11?\r"), "#2 P11? P11=8192\r\n");
  t.Bus.Control("set 2 403 1", t.Now);
  t.Bus.Control("pos 2 42.5", t.Now);
  EXPECT_EQ(t.One("#2 P403?\r"), "#2 P403? P403=1\r\n");
  EXPECT_EQ(t.One("#2 P51?\r"), "#2 P51? P51=42.5\r\n");

  // Speed-up: 10 mm at 600 mm/min takes 1 s simulated, 100 ms real.
  t.Bus.Control("estop all release", t.Now);
  t.Bus.Control("speedup 10", t.Now);
  t.Talk("#1 P134=7\r");
  t.Talk("#1 V=600 WA=20 E\r", 100);
  EXPECT_EQ(t.One("#1 P51?\r"), "#1 P51? P51=20\r\n");

  for (auto bad : {"drop", "drop 1 x", "delay 1", "estop 1 maybe", "warn 7 1", "speedup 0", "frobnicate 1",
                   "softlimits 1 5 2", "set 1 12"})
    EXPECT_EQ(t.Bus.Control(bad, t.Now).compare(0, 7, "error: "), 0) << bad;
  EXPECT_EQ(t.Bus.Control("", t.Now), "ok");
}

TEST(SimBus, PacedBytesEchoLiveAndProcessingTimes) {
  TLine t;
  t.Bus.Baud = 19200;  // 0.52 ms a byte
  t.Bus.Receive("#1 VER\r", 0);  // in at 3.6 ms, answered 5 ms later
  std::string got;
  int64_t first = -1, last = -1;
  for (; t.Now < 40; ++t.Now)
    for (auto &p : t.Bus.TakeDue(t.Now)) got += p, last = t.Now, first = first < 0 ? t.Now : first;
  EXPECT_EQ(got, "#1 VER VERISIM_1.0\r\n");
  EXPECT_EQ(first, 9);
  EXPECT_EQ(last, 19);
  // Echo as the characters come; the answer after the processing time.
  t.Bus.EchoLive = true;
  t.Bus.CommandLatency["P51?"] = {30, 0};
  auto text = [](const std::vector<std::string> &pieces) {
    std::string s;
    for (auto &p : pieces) s += p;
    return s;
  };
  EXPECT_EQ(text(t.Talk("#1 P51?\r", 20)), "#1 P51?");
  EXPECT_EQ(text(t.Talk("", 20)), " P51=10\r\n");
  // The spread is drawn from the seed: the same seed, the same times.
  TSimBus a({1}), b({1});
  a.Latency = b.Latency = {3, 40};
  a.Seed(7), b.Seed(7);
  a.Receive("#1 VER\r", 0), b.Receive("#1 VER\r", 0);
  EXPECT_EQ(a.NextDue(), b.NextDue());
  EXPECT_GT(a.NextDue(), 3);
}

TEST(SimBus, CommandLineOptions) {
  TSimOptions o;
  bool help = false;
  std::string err;
  ASSERT_TRUE(ParseSimOptions({"--axes", "1,3", "--link", "L", "--log", "F", "--control", "C", "--speedup", "4"},
                              o, help, err));
  EXPECT_EQ(o.Axes, (std::vector<int>{1, 3}));
  EXPECT_EQ(o.Speedup, 4);
  EXPECT_FALSE(help);
  EXPECT_TRUE(ParseSimOptions({"--help"}, o, help, err) && help);
  for (auto bad : std::vector<std::vector<std::string>>{{"--axes", "1,,3"}, {"--axes", "256"}, {"--log"},
                                                          {"--bogus", "1"}, {"--speedup", "-1"}})
    EXPECT_FALSE(ParseSimOptions(bad, o, help, err)) << bad[0];
}
