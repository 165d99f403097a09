#include <csignal>
#include <filesystem>
#include <ctime>
#include <sys/wait.h>
#include <zlib.h>

#include "support/Fakes.h"
#include "support/TempDir.h"
#include "support/WritePoints.h"
#include "base/DayLog.h"

class DayLogTest : public TTempDirTest {
protected:
  THostFixture H{1};
  void TearDown() override { DayLog().Close(), TTempDirTest::TearDown(); }
  // The fake clock's wall time set to a local time of 7 December 2026.
  void At(int hour, int min, int sec, int ms) {
    std::tm tm{};
    tm.tm_min = min, tm.tm_hour = hour, tm.tm_mday = 7, tm.tm_mon = 11, tm.tm_year = 126, tm.tm_isdst = -1;
    H.Clock.WallBase = int64_t(mktime(&tm)) * 1000 + sec * 1000 + ms - H.Clock.Now;
  }
  std::string Today() {
    const time_t t = time_t((H.Clock.WallBase + H.Clock.Now) / 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char s[16];
    std::strftime(s, sizeof s, "%Y-%m-%d", &tm);
    return s;
  }
};

TEST_F(DayLogTest, EveryLineStampedTracesIncludedAndMidnightStartsTheNextFile) {
  At(23, 59, 59, 123);
  DayLog().Open("logs");
  ReportLine("$ Move [3] from 1 to: 2");
  ReportLine("Moving to home position ..");
  H.Clock.Sleep(900);
  ReportDirect("   ... done.");
  DayLog().Close();
  EXPECT_EQ(H.Report.Joined(), "Moving to home position ..\n   ... done.\n");
  EXPECT_EQ(Get("logs/2026-12-07.log"),
            "2026-12-07 23:59:59.123 $ Move [3] from 1 to: 2\n"
            "2026-12-07 23:59:59.123 Moving to home position ..\n");
  EXPECT_EQ(Get("logs/2026-12-08.log"), "2026-12-08 00:00:00.023    ... done.\n");
}

TEST_F(DayLogTest, UnwritableFileGivesOneErrorLineAndTheRunGoesOn) {
  At(10, 0, 0, 0);
  Put("logs", "a file where the folder should be");
  DayLog().Open("logs");
  for (int i = 0; i < 3; ++i) ReportLine("line " + std::to_string(i));
  ASSERT_EQ(H.Report.Lines.size(), 4u);
  EXPECT_EQ(
      H.Report.Lines[1],
      "*** Report log file logs/2026-12-07.log cannot be written: Not a directory; the window's log goes on");
  EXPECT_EQ(H.Report.Lines[3], "line 2");
  // Writable again: the lines go on in the file, and a new fault is told once more.
  ASSERT_EQ(std::remove("logs"), 0);
  ReportLine("back");
  EXPECT_EQ(Get("logs/2026-12-07.log"), "2026-12-07 10:00:00.000 back\n");
  H.Clock.Sleep(24 * 3600 * 1000);
  ASSERT_EQ(symlink("/dev/full", "logs/2026-12-08.log"), 0);
  for (const char *l : {"full", "full again"}) ReportLine(l);
  EXPECT_EQ(H.Report.Lines.size(), 8u);
  EXPECT_TRUE(H.Report.HasPrefix("*** Report log file logs/2026-12-08.log cannot be written: No space"));
}

TEST_F(DayLogTest, LineReportedJustBeforeAKillIsInTheFile) {
  At(12, 0, 0, 5);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    DayLog().Open("logs");
    ReportLine("last words");
    raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(Get("logs/2026-12-07.log"), "2026-12-07 12:00:00.005 last words\n");
}

// Earlier days compressed whole, the oldest compressed days removed beyond
// the size kept; today's file and other files stay.
TEST_F(DayLogTest, EarlierDaysCompressedAndTheOldestPruned) {
  ASSERT_EQ(mkdir("logs", 0755), 0);
  const std::string day(200000, 'x');
  Put("logs/2026-12-01.log.gz", std::string(300000, 'z'));
  Put("logs/2026-12-02.log.gz", std::string(1000, 'z'));
  Put("logs/2026-12-05.log", day);
  Put("logs/2026-12-07.log", "today\n");
  Put("logs/notes.txt", "kept");
  Put("logs/2026-12-04.log.gz.part", "a kill's leftover");
  TidyDayLogs("logs", "2026-12-07", 100000);
  EXPECT_FALSE(Exists("logs/2026-12-04.log.gz.part"));
  EXPECT_FALSE(Exists("logs/2026-12-01.log.gz"));
  EXPECT_TRUE(Exists("logs/2026-12-02.log.gz"));
  EXPECT_FALSE(Exists("logs/2026-12-05.log"));
  EXPECT_EQ(Get("logs/2026-12-07.log"), "today\n");
  EXPECT_EQ(Get("logs/notes.txt"), "kept");
  gzFile in = gzopen("logs/2026-12-05.log.gz", "rb");
  ASSERT_NE(in, nullptr);
  std::string back(day.size() + 10, '\0');
  back.resize(size_t(std::max(0, gzread(in, back.data(), unsigned(back.size())))));
  gzclose(in);
  EXPECT_EQ(back, day);
}

// Told to end while earlier days are compressed: today's line is in its file
// at once, and every earlier day stays whole, plain or compressed, with no
// part file left, wherever the tidying was.
TEST_F(DayLogTest, CloseDuringCompressionLeavesEveryDayWhole) {
  ASSERT_EQ(mkdir("logs", 0755), 0);
  std::string day;
  for (int i = 0; day.size() < 3000000; ++i) day += "2026-12-01 10:00:00.000 line " + std::to_string(i) + "\n";
  for (int d = 1; d <= 4; ++d) Put("logs/2026-11-0" + std::to_string(d) + ".log", day);
  DayLog().Open("logs", int64_t(1) << 40);
  ReportLine("today");
  DayLog().Close();
  EXPECT_NE(Get("logs/" + Today() + ".log").find(" today\n"), std::string::npos);
  for (int d = 1; d <= 4; ++d) {
    const std::string p = "logs/2026-11-0" + std::to_string(d) + ".log";
    EXPECT_FALSE(Exists(p + ".gz.part"));
    if (Exists(p)) {
      EXPECT_EQ(Get(p), day);
      continue;
    }
    gzFile in = gzopen((p + ".gz").c_str(), "rb");
    ASSERT_NE(in, nullptr) << p;
    std::string back(day.size() + 10, '\0');
    back.resize(size_t(std::max(0, gzread(in, back.data(), unsigned(back.size())))));
    gzclose(in);
    EXPECT_EQ(back, day) << p;
  }
}

// A kill or a full disk at every byte of the day log: the file holds the
// lines reported before, whole and in order; never an empty or cut one.
TEST_F(DayLogTest, EveryWritePointKeepsTheLinesBefore) {
  TMemoryFolder memory;
  At(9, 0, 0, 0);
  AtEveryWritePoint([] { std::filesystem::remove_all("logs"); },
                    [] {
                      DayLog().Open("logs");
                      for (int i = 0; i < 4; ++i) ReportLine("line " + std::to_string(i));
                      DayLog().Close();
                    },
                    [&](bool) {
                      if (!Exists("logs/2026-12-07.log")) return;
                      const std::string text = Get("logs/2026-12-07.log");
                      std::string whole;
                      for (int i = 0; whole.size() < text.size() || whole.empty(); ++i)
                        whole += "2026-12-07 09:00:00.000 line " + std::to_string(i) + "\n";
                      EXPECT_EQ(text, whole);
                    });
}
