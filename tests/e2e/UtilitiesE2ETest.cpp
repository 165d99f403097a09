// The service dialogs over a real serial port against build/veri-sim.
#include <gtest/gtest.h>

#include "support/Fakes.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
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
