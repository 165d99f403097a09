// A task of step-by-step and fast dips over the paced
// simulator. Run with fast replies off and on, the controllers must be told
// the same things in the same order; only the number of polls may differ.
#include <gtest/gtest.h>

#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "support/Fakes.h"
#include "support/SimLine.h"
#include "support/TempDir.h"
#include "tasks/TaskRun.h"

namespace {
using V = std::vector<std::string>;

// What moves the machine or changes a controller, a line each: no polls, no reads.
std::string Orders(const V &frames) {
  std::string out;
  for (const std::string &f : frames)
    if (f.find('?') == std::string::npos && f.size() > 3) out += f + "\n";
  return out;
}

using WholeRunE2E = TTempDirTest;

TEST_F(WholeRunE2E, StepAndFastDips) {
  THostFixture host;
  TSimLine line;
  ASSERT_TRUE(line.Open());
  line.PrepareDipMachine();
  // Fields: name, position, down and up speed, top and bottom, times, channel and its mode, dips.
  AppendProcess({"A", 1, 2, 2, 1.5, 2, 0.1, 0.1, 2, 1, 1});
  AppendProcess({"F", 2, 2, 2, 1.5, 2, 0, 0.1, 0, 1, 1});
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
  EXPECT_EQ(Orders(frames),
            // A: over Rinse, top, output on, down, off at the bottom, up.
            "#1 V=1200.0000 WA=20.0000 E\n#2 V=1200.0000 WA=15.0000 E\n#3 V=1200.0000 WA=15.0000 E\n"
            "#3 P1204=0\n#3 P1204=1\n#3 V=1200.0000 WA=20.0000 E\n#3 P1204=0\n#3 P1204=0\n"
            "#3 V=1200.0000 WA=15.0000 E\n#3 P1204=0\n#3 P1204=0\n#3 V=1200.0000 WA=10.0000 E\n"
            // F: over Coat, the fast-dip program.
            "#1 V=1200.0000 WA=30.0000 E\n#2 V=1200.0000 WA=20.0000 E\n#3 V=1200.0000 WA=15.0000 E\n"
            "#3 R0 = 15.0000\n#3 R1 = 20.0000\n#3 R2 = 1200.0000\n#3 R3 = 1200.0000\n#3 C1 = 1\n"
            "#3 M1 = 1\n#3 RUN\n"
            // Home.
            "#3 V=1200.0000 WA=10.0000 E\n#2 V=1200.0000 WA=10.0000 E\n#1 V=1200.0000 WA=10.0000 E\n");
}

}  // namespace
