#include <clocale>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>

#include "support/TempDir.h"
#include "base/Profile.h"

using ProfileTest = TTempDirTest;


TEST_F(ProfileTest, LooksUpWithoutCaseAcrossLineEndsAndComments) {
  Put("a.ini",
      "; hand-written\r\n"
      "Orphan=1\n"
      "[ General ]\r\n"
      "  nmotors =  2  \r\n"
      ";NMotors=9\n"
      "Axis=  X Y  \n"
      "junk line without equals\n"
      "Empty=\n"
      "[Other]\n"
      "NMotors=7\n"
      "[general]\n"
      "Late=1");  // no line end at the end
  EXPECT_EQ(ProfileReadInt(".\\a.ini", "GENERAL", "NMOTORS", 0), 2);
  EXPECT_EQ(ProfileReadString("a.ini", "general", "axis", "?"), "X Y");
  EXPECT_EQ(ProfileReadString("a.ini", "General", "Empty", "?"), "");
  EXPECT_EQ(ProfileReadInt("a.ini", "Other", "NMotors", 0), 7);
  // Keys outside any section and in a second section of the same name are not seen.
  EXPECT_EQ(ProfileReadInt("a.ini", "", "Orphan", -1), -1);
  EXPECT_EQ(ProfileReadInt("a.ini", "General", "Late", -1), -1);
  EXPECT_EQ(ProfileReadString("a.ini", "General", "junk line without equals", "d"), "d");
  EXPECT_EQ(ProfileReadString("none.ini", "General", "Axis", "d"), "d");
}

TEST_F(ProfileTest, NumbersConvertOrGiveTheDefault) {
  Put("n.ini",
      "[N]\nHex=0x1F\nHexUp=0XfF\nNeg=-5\nWrap=0xFFFFFFFF\nHuge=99999999999\n"
      "Dollar=$10\nWord=abc\nTail=12abc\nBlank=\nComma=2,5\nFloat= 20.5 \n"
      "Exp=1e2\nInf=inf\nNan=nan\nTwo=2\nZero=0\n");
  EXPECT_EQ(ProfileReadInt("n.ini", "N", "Hex", 0), 31);
  EXPECT_EQ(ProfileReadInt("n.ini", "N", "Neg", 0), -5);
  EXPECT_EQ(ProfileReadInt("n.ini", "N", "Wrap", 0), -1);
  for (const char *bad : {"Huge", "Dollar", "Word", "Tail", "Blank", "Float"})
    EXPECT_EQ(ProfileReadInt("n.ini", "N", bad, 42), 42) << bad;
  EXPECT_DOUBLE_EQ(ProfileReadFloat("n.ini", "N", "Float", 0), 20.5);
  EXPECT_DOUBLE_EQ(ProfileReadFloat("n.ini", "N", "Exp", 0), 100);
  for (const char *bad : {"Comma", "Inf", "Nan", "Word", "Blank", "Hex"})
    EXPECT_DOUBLE_EQ(ProfileReadFloat("n.ini", "N", bad, 1.5), 1.5) << bad;
  EXPECT_TRUE(ProfileReadBool("n.ini", "N", "Two", false));
  EXPECT_TRUE(ProfileReadBool("n.ini", "N", "Word", true));
  EXPECT_FALSE(ProfileReadBool("n.ini", "N", "Word", false));
}

TEST_F(ProfileTest, DecimalPointWhateverTheLocale) {
  const char *old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  bool comma = false;
  for (const char *loc : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
    if (std::setlocale(LC_ALL, loc)) { comma = true; break; }
  ProfileWriteFloat("l.ini", "S", "V", 20.5);
  Put("m.ini", "[S]\nV=0.25\nC=0,25\n");
  EXPECT_DOUBLE_EQ(ProfileReadFloat("m.ini", "S", "V", 0), 0.25);
  EXPECT_DOUBLE_EQ(ProfileReadFloat("m.ini", "S", "C", 9), 9);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(Get("l.ini"), "[S]\r\nV=20.5\r\n");
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma installed";
}

TEST_F(ProfileTest, WritesCreateReplaceAndAppendInPlace) {
  ProfileWriteFloat(".\\w.ini", "Motor1", "Max_Position", 54);
  ProfileWriteFloat(".\\w.ini", "Motor1", "Max_Speed", 0.25);
  ProfileWriteBool(".\\w.ini", "Settings", "Y_Centerline", true);
  ProfileWriteInt(".\\w.ini", "Settings", "Count", -3);
  EXPECT_EQ(Get("w.ini"),
            "[Motor1]\r\nMax_Position=54\r\nMax_Speed=0.25\r\n"
            "[Settings]\r\nY_Centerline=1\r\nCount=-3\r\n");

  // A hand-edited LF file: order, comments, blank lines and spelling survive.
  Put("h.ini",
      "; machine\n[General]\nfilestatus = 0\n; keep me\nOdd line\n\n"
      "[Motor1]\nAxis=X\n\n[Tail]\nK=v\n");
  ProfileWriteInt("h.ini", "GENERAL", "FileStatus", 1);
  ProfileWriteString("h.ini", "general", "HW_Supplier", "DIVIVOD");
  ProfileWriteString("h.ini", "Motor1", "axis", "Y");
  ProfileWriteString("h.ini", "New", "Key", "  spaced  ");
  EXPECT_EQ(Get("h.ini"),
            "; machine\r\n[General]\r\nfilestatus=1\r\n; keep me\r\nOdd line\r\n"
            "HW_Supplier=DIVIVOD\r\n\r\n[Motor1]\r\nAxis=Y\r\n\r\n[Tail]\r\nK=v\r\n"
            "[New]\r\nKey=  spaced  \r\n");
  EXPECT_EQ(ProfileReadString("h.ini", "new", "key", "?"), "spaced");

  // A value never adds lines of its own.
  ProfileWriteString("h.ini", "Tail", "K", "a\r\n[General]\nFileStatus=0");
  EXPECT_EQ(ProfileReadInt("h.ini", "General", "FileStatus", -1), 1);
  EXPECT_EQ(ProfileReadString("h.ini", "Tail", "K", "?"), "a  [General] FileStatus=0");
}

TEST_F(ProfileTest, FailedWritesNameTheFileAndLeaveItIntact) {
  const std::string before = "[General]\r\nFileStatus=0\r\n";
  Put("KVHardware.ini", before);
  chmod("KVHardware.ini", 0444);
  try {
    ProfileWriteInt(".\\KVHardware.ini", "General", "FileStatus", 1);
    ADD_FAILURE() << "read-only file written";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find("KVHardware.ini"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Get("KVHardware.ini"), before);
  chmod("KVHardware.ini", 0644);


  // The disk fills up half-way through the new file.
  std::string big(4000, 'x');
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    ProfileWriteString("KVHardware.ini", "General", "Big", big);
  } catch (const std::runtime_error &e) {
    threw = true;
    EXPECT_NE(std::string(e.what()).find("KVHardware.ini"), std::string::npos);
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_TRUE(threw);
  EXPECT_EQ(Get("KVHardware.ini"), before);
  EXPECT_EQ(OtherFiles("KVHardware.ini"), "") << "temporary file left behind";

}

TEST_F(ProfileTest, CrashMidWriteLeavesOldOrNewFile) {
  // A temporary of an interrupted write is ignored by reads and later writes.
  Put("s.ini", "[S]\r\nK=1\r\n");
  Put("s.ini.tmp-ABCDEF", "[S]\r\nK=");
  EXPECT_EQ(ProfileReadInt("s.ini", "S", "K", 0), 1);
  ProfileWriteInt("s.ini", "S", "K", 2);
  EXPECT_EQ(Get("s.ini"), "[S]\r\nK=2\r\n");
  ProfileWriteString("s.ini", "S", "Tail", "end");

  // A writer killed at an arbitrary moment: the file always reads whole.
  for (int round = 0; round < 5; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        ProfileWriteInt("s.ini", "S", "K", i);
        ProfileWriteString("s.ini", "S", "Tail", "end" + std::to_string(i));
      }
    }
    usleep(20000 + 7000 * round);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::string text = Get("s.ini");
    EXPECT_EQ(text.substr(0, 7), "[S]\r\nK=") << text;
    EXPECT_EQ(ProfileReadString("s.ini", "S", "Tail", "").substr(0, 3), "end") << text;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  }
}
