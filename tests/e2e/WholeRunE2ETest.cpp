// A task of step-by-step and fast dips and a program upload over the paced
// simulator. Run with fast replies off and on, the controllers must be told
// the same things in the same order; only the number of polls may differ.
#include <gtest/gtest.h>

#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "support/Fakes.h"
#include "support/SimLine.h"
#include "support/TempDir.h"
#include "tasks/TaskRun.h"
#include "veri/Utilities.h"

namespace {
using V = std::vector<std::string>;

// What moves the machine or changes a controller: no polls, no reads.
V Orders(const V &frames) {
  V out;
  for (const std::string &f : frames)
    if (f.find('?') == std::string::npos && f.size() > 3) out.push_back(f);
  return out;
}

struct TNoBar : IUploadView {
  void ShowBar(bool) override {}
  void SetBar(int, int) override {}
  void StepBar() override {}
};

using WholeRunE2E = TTempDirTest;

TEST_F(WholeRunE2E, StepAndFastDipsThenAnUpload) {
  THostFixture host;
  TSimLine line;
  ASSERT_TRUE(line.Open());
  line.PrepareDipMachine();
  TProcEntry a;
  a.Name = "A";
  a.PosNo = 1;
  a.InSpeed = a.OutSpeed = 2;
  a.UpperPos = 1.5;
  a.LowPos = 2;
  a.InTime = a.OutTime = 0.1;
  a.NoTunks = 1;
  a.ChNo = 2;
  a.ChMode = 1;
  AppendProcess(a);
  TProcEntry f = a;
  f.Name = "F";
  f.PosNo = 2;
  f.InTime = 0;
  f.ChNo = 0;
  AppendProcess(f);
  AppendTask({"T", "A + F"});
  CurTask = TaskCount;
  const size_t before = line.Sim.Frames().size();
  TaskStart();
  EXPECT_EQ(host.Report.Lines.back(), "-- End Task ---.");
  EXPECT_FALSE(host.Report.HasPrefix("***")) << host.Report.Joined();
  // The register writes' echoes share a cluster with RUN's reply: no time-out.
  EXPECT_EQ(host.Report.Joined().find("TimeOut"), std::string::npos) << host.Report.Joined();
  V frames = line.Sim.Frames();
  frames.erase(frames.begin(), frames.begin() + before);
  const V orders = Orders(frames);
  EXPECT_EQ(orders, (V{"#1 V=1200.0000 WA=20.0000 E",
                       "#2 V=1200.0000 WA=15.0000 E",
                       "#3 V=1200.0000 WA=15.0000 E",
                       "#3 P1204=0",
                       "#3 P1204=1",
                       "#3 V=1200.0000 WA=20.0000 E",
                       "#3 P1204=0",
                       "#3 P1204=0",
                       "#3 V=1200.0000 WA=15.0000 E",
                       "#3 P1204=0",
                       "#3 P1204=0",
                       "#3 V=1200.0000 WA=10.0000 E",
                       "#1 V=1200.0000 WA=30.0000 E",
                       "#2 V=1200.0000 WA=20.0000 E",
                       "#3 V=1200.0000 WA=15.0000 E",
                       "#3 R0 = 15.0000",
                       "#3 R1 = 20.0000",
                       "#3 R2 = 1200.0000",
                       "#3 R3 = 1200.0000",
                       "#3 C1 = 1",
                       "#3 M1 = 1",
                       "#3 RUN",
                       "#3 V=1200.0000 WA=10.0000 E",
                       "#2 V=1200.0000 WA=10.0000 E",
                       "#1 V=1200.0000 WA=10.0000 E"}))
      << "A: over Rinse, top, output on, down, off at the bottom, up; F: over Coat, the fast-dip program; "
         "home";

  Put("KV1pgm.ini", "L1 A=1\r\nL2 A=2\r\n");
  TNoBar bar;
  ASSERT_TRUE(UploadProgram(3, bar));
  EXPECT_EQ(Get("KV1pgmdwn.txt"), "L1 A=1 \r\nL2 A=2 \r\n");
}

// A stopped move and a burst of writes sent without waiting, on the paced
// line: every read after them gets its own answer at once.
TEST_F(WholeRunE2E, StoppedMoveAndUnansweredWritesNeverTimeOut) {
  THostFixture host;
  TSimLine line;
  ASSERT_TRUE(line.Open());
  line.PrepareDipMachine();
  EXPECT_EQ(VERIDialog(1, "V=600 WA=100 E"), "");
  SleepMs(100);
  VERICall(1, "S");
  EXPECT_EQ(VERIDialog(1, "P1013?"), "P1013=4 ");
  for (int i = 0; i < 9; ++i) VERICall(uint8_t(1 + i % 3), "P1204=" + std::to_string(i % 2));
  EXPECT_EQ(VERIDialog(2, "P51?"), "P51=10 ");
  EXPECT_EQ(VERIDialog(3, "VER"), "VERISIM_1.0 ");
  EXPECT_EQ(host.Report.Joined().find("TimeOut"), std::string::npos) << host.Report.Joined();
}

}  // namespace
