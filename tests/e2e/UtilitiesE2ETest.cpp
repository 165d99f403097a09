// The service dialogs over a real serial port against build/veri-sim.
#include <gtest/gtest.h>

#include "machine/Machine.h"
#include "support/Fakes.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "veri/Outputs.h"
#include "veri/Utilities.h"

namespace {
struct TNoBar : IUploadView {
  void ShowBar(bool) override {}
  void SetBar(int, int) override {}
  void StepBar() override {}
};

class UtilitiesE2E : public TTempDirTest {
protected:
  THostFixture Host;
  TSimLine Line;
  // Commands received by one controller, without "#a ".
  std::vector<std::string> Commands(int address) const {
    const std::string head = "#" + std::to_string(address) + " ";
    std::vector<std::string> out;
    for (const std::string &f : Line.Sim.Frames())
      if (f.compare(0, head.size(), head) == 0) out.push_back(f.substr(head.size()));
    return out;
  }
};
}  // namespace

TEST_F(UtilitiesE2E, UploadListsTheStoredProgramBack) {
  ASSERT_TRUE(Line.Open());
  std::string code;
  for (int i = 1; i <= 10; ++i) code += "L" + std::to_string(i) + " X=" + std::to_string(i) + "\n";
  Put("KV1pgm.ini", code);
  TNoBar bar;
  ASSERT_TRUE(UploadProgram(3, bar));
  const auto cmds = Commands(3);
  ASSERT_EQ(cmds.size(), 22u);
  EXPECT_EQ(cmds[0], "NEW");
  EXPECT_EQ(cmds[10], "L10 X=10");
  EXPECT_EQ(cmds[11], "QUIT");
  EXPECT_EQ(cmds[21], "LIST+");
  std::string want;
  for (int i = 1; i <= 10; ++i) want += "L" + std::to_string(i) + " X=" + std::to_string(i) + " \r\n";
  EXPECT_EQ(Get("KV1pgmdwn.txt"), want);
}

TEST_F(UtilitiesE2E, LimitSwitchMoveAndOutputs) {
  ASSERT_TRUE(Line.Open());
  ManualLimitSwitchMove(3, 1);
  const std::vector<std::string> want = {"P11=0", "P12=0", "P1019=600", "P1031=1", "S"};
  EXPECT_EQ(Commands(3), want);
  // "S" follows the start after the half-second pause (log time stamps in ms).
  long start = -1, stop = -1;
  for (const std::string &l : Line.Sim.LogLines()) {
    if (l.find(" #3 P1031=1") != std::string::npos) start = std::stol(l);
    if (l.find(" #3 S") != std::string::npos) stop = std::stol(l);
  }
  EXPECT_GE(stop - start, 500);

  DigOutCount = 2;
  DigOutTable[1].Address = 2;
  DigOutTable[1].Pin = 4;
  DigOutTable[2].Address = 0;
  VERIToggleOut(1);
  VERIToggleOut(1);
  VERIToggleOut(2);  // not wired: nothing sent
  const std::vector<std::string> outputs = {"P1204=1", "P1204=0"};
  EXPECT_EQ(Commands(2), outputs);
  EXPECT_TRUE(Commands(0).empty());
}
