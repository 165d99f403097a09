#include <csignal>
#include <sys/resource.h>

#include "support/TempDir.h"
#include "support/WritePoints.h"
#include "base/Profile.h"

using ProfileTest = TTempDirTest;

TEST_F(ProfileTest, LooksUpWithoutCaseAcrossLineEndsAndComments) {
  Put("a.ini", "Orphan=1\n[ General ]\r\n  nmotors =  2  \r\n;NMotors=9\n[Other]\nHex=0x1F\nWord=abc\n");
  EXPECT_EQ(ProfileReadInt(".\\a.ini", "GENERAL", "NMOTORS", 0), 2);
  EXPECT_EQ(ProfileReadInt("a.ini", "", "Orphan", -1), -1);
  EXPECT_EQ(ProfileReadInt("a.ini", "Other", "Hex", 0), 31);
  EXPECT_EQ(ProfileReadInt("a.ini", "Other", "Word", 42), 42);
  EXPECT_EQ(ProfileReadString("none.ini", "General", "Axis", "d"), "d");
}

TEST_F(ProfileTest, WritesKeepAHandEditedFile) {
  // Order, comments, blank lines and spelling survive; lines end in CR LF.
  Put("h.ini", "; machine\n[General]\nfilestatus = 0\n; keep me\n\n[Motor1]\nAxis=X\n");
  ProfileWriteInt("h.ini", "GENERAL", "FileStatus", 1);
  ProfileWriteString("h.ini", "general", "HW_Supplier", "DIVIVOD");
  ProfileWriteFloat("h.ini", "Motor1", "Max_Speed", 0.25);
  ProfileWriteBool("h.ini", "New", "Y_Centerline", true);
  EXPECT_EQ(Get("h.ini"),
            "; machine\r\n[General]\r\nfilestatus=1\r\n; keep me\r\nHW_Supplier=DIVIVOD\r\n\r\n"
            "[Motor1]\r\nAxis=X\r\nMax_Speed=0.25\r\n[New]\r\nY_Centerline=1\r\n");
  // A value never adds lines of its own.
  ProfileWriteString("h.ini", "Motor1", "Axis", "a\r\n[General]\nFileStatus=0");
  EXPECT_EQ(ProfileReadInt("h.ini", "General", "FileStatus", -1), 1);
}

TEST_F(ProfileTest, FailedWriteNamesTheFileAndLeavesItIntact) {
  const std::string before = "[General]\r\nFileStatus=0\r\n";
  Put("KVHardware.ini", before);
  // The disk fills up half-way through the new file.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  try {
    ProfileWriteString("KVHardware.ini", "General", "Big", std::string(4000, 'x'));
  } catch (const std::runtime_error &e) {
    error = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_NE(error.find("KVHardware.ini"), std::string::npos) << error;
  EXPECT_EQ(Get("KVHardware.ini"), before);
  EXPECT_EQ(OtherFiles("KVHardware.ini"), "") << "temporary file left behind";
}

// A kill or a full disk at every byte of an INI write leaves the old file
// whole or the new one complete.
TEST_F(ProfileTest, EveryWritePointLeavesTheOldOrTheNewFile) {
  TMemoryFolder memory;
  const std::string before = "[General]\r\nFileStatus=0\r\n", after = before + "Name=Coater 2\r\n";
  const int points =
      AtEveryWritePoint([&] { Put("KVHardware.ini", before); },
                        [] {
                          try {
                            ProfileWriteString("KVHardware.ini", "General", "Name", "Coater 2");
                          } catch (...) {}
                        },
                        [&](bool) {
                          const std::string now = Get("KVHardware.ini");
                          EXPECT_TRUE(now == before || now == after) << now;
                        });
  EXPECT_GE(points, int(after.size()) * 2);
}
