// Faults that decide where a reply's cluster ends, or whether it comes.
// Like every end-to-end test this runs with fast replies off and on; the
// answers and the stale lines must be the same either way.
#include <gtest/gtest.h>

#include "support/Fakes.h"
#include "serial/SerialPortNG.h"
#include "support/SimLine.h"
#include "veri/Transport.h"

TEST(ReplyCutE2E, FaultyRepliesAnswerAlikeWhereverTheyEnd) {
  THostFixture host;
  TSimLine line;
  ASSERT_TRUE(line.Open());
  line.Sim.Control("split 1 40 1");  // halves 40 ms apart: one cluster
  EXPECT_EQ(VERIDialog(1, "P403?"), "P403=5 ");
  line.Sim.Control("split 1 400 1");  // 400 ms apart: the first half is the reply (no line end to cut)
  EXPECT_EQ(VERIDialog(1, "VER"), "VER ");
  for (int i = 0; i < 100 && line.Port->NextClusterLength() < 0; ++i) SleepMs(10);  // the second half
  line.Sim.Control("garble 1 1");
  EXPECT_EQ(VERIDialog(1, "P403?").substr(0, 4), "*** ");
  EXPECT_EQ(VERIDialog(1, "P403?"), "P403=5 ");
  EXPECT_TRUE(host.Report.Has("$ VERI Serial Talk buffer: ISIM_1.0\r\n")) << host.Report.Joined();
}
