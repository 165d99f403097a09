// The record file read back: quoted names, blanks for what was not seen,
// numbers to six digits, the reads file, a last row cut short by a crash,
// added columns, a record of the first format, and a file that is no record.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "record/RunRecord.h"
#include "support/Fakes.h"
#include "support/TempDir.h"
#include "support/WritePoints.h"

using RecordFile = TTempDirTest;

TEST_F(RecordFile, RowsReadBackAsWrittenAndACutLastRowIsLeftOut) {
  TRecordRow r;
  r.Task = "Coat; \"fine\", slow";
  r.Mode = RecordStepByStep;
  r.Dip = 2, r.Dips = 3;
  r.Top = 1.5, r.Bottom = 2.25;
  r.InSpeed = 0.0125, r.OutSpeed = 0.5 / 600, r.OutDriven = 123456.7;
  r.DownAt = 0, r.UpAt = 1234;
  r.Withdrawal = 1.9995;
  r.WrittenAt = 40;
  r.End = EndLost;
  const std::string line = FormatRecordRow(r);
  EXPECT_EQ(line.find('.'), std::string::npos) << line;  // no decimal separator for a locale to misread
  Put("r.csv", RecordHeader() + "\n" + line + "\n" + line.substr(0, 20));
  Put("r.reads.csv", "Time ms,Axis,cm\n10,3,15E-1\n20,1,4\n35,3,175E-2\n50,3,2\n");
  std::vector<TRecordRow> rows;
  std::string error;
  ASSERT_TRUE(ReadRunRecord("r.csv", rows, error)) << error;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Task, r.Task);
  EXPECT_EQ(rows[0].Bottom, 2.25);
  EXPECT_EQ(rows[0].BottomAt, -1);
  EXPECT_EQ(rows[0].UpAt, 1234);
  EXPECT_EQ(rows[0].InSpeed, 0.0125);
  EXPECT_NEAR(rows[0].OutSpeed, r.OutSpeed, r.OutSpeed * 1e-5);
  EXPECT_EQ(rows[0].OutDriven, 123457);
  EXPECT_EQ(rows[0].Withdrawal, 1.9995);
  EXPECT_EQ(rows[0].ZReads, (std::vector<TReading>{{10, 1.5}, {35, 1.75}}));  // Z reads written before it
  EXPECT_EQ(rows[0].End, EndLost);
  for (double v : {0.0, -0.25, 80.0, 1e-7, 1234567.0, 0.000833333})
    EXPECT_EQ(std::stod(RecordNumber(v)), std::stod(RecordNumber(std::stod(RecordNumber(v))))) << v;
  EXPECT_EQ(RecordNumber(0.0125), "125E-4");
  EXPECT_EQ(RecordNumber(80), "80");
  // A cut row in the middle, and a file that is not a record, are refused.
  Put("r.csv", RecordHeader() + "\n" + line.substr(0, 20) + "\n" + line + "\n");
  EXPECT_FALSE(ReadRunRecord("r.csv", rows, error));
  EXPECT_EQ(error, "line 2 is not a row of a run record");
  Put("x.csv", "a;b\n");
  EXPECT_FALSE(ReadRunRecord("x.csv", rows, error));
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_EQ(RunRecordPath("a/b:c", 0).substr(24), "_a_b_c.csv");
}

TEST_F(RecordFile, AddedColumnsAndRecordsOfTheFirstFormatAreRead) {
  Put("new.csv", RecordHeader() + ",Later column\n" + FormatRecordRow(TRecordRow()) + ",x\n");
  std::vector<TRecordRow> rows;
  std::string error;
  ASSERT_TRUE(ReadRunRecord("new.csv", rows, error)) << error;
  EXPECT_EQ(rows.size(), 1u);
  Put("old.csv",
      "Task;Level;Process;Position;Dip;Dips;Mode;X cm;Y cm;Z top cm;Z bottom cm;Down speed cm/s;Up speed "
      "cm/s;"
      "Bottom wait s;Top wait s;Down commanded ms;Bottom reached ms;Up commanded ms;Top reached ms;Held "
      "bottom ms;"
      "Held top ms;Withdrawal cm/s;Outputs;Z reads ms:cm;Seen;Error bits;End\n"
      "\"T;1\";1;A;Coat;1;2;step-by-step;8;6;5;8;0.013;2;0.5;0.3;10;1510;2200;3710;690;520;1.999;2=1@5;"
      "1600:7.5 1700:7 1800:6.5;;0;done\n"
      ";0;;;0;0;end;;;;;;;;;;;;4000;;;;;;Estimate was 3 s;0;done\n");
  ASSERT_TRUE(ReadRunRecord("old.csv", rows, error)) << error;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Task, "T;1");
  EXPECT_EQ(rows[0].InSpeed, 0.013);
  EXPECT_EQ(rows[0].Withdrawal, 1.999);
  EXPECT_EQ(rows[0].ZReads.size(), 3u);
  EXPECT_TRUE(std::isnan(rows[0].InDriven));
  EXPECT_EQ(rows[1].Seen, "Estimate was 3 s");
}

// Records of megabytes: lines across the ends of the blocks read, and one
// line longer than a block, read whole; every read reaches its own row.
TEST_F(RecordFile, LongRecordsReadWholeAcrossBlocks) {
  std::string record = RecordHeader() + "\n", reads = "Time ms,Axis,cm\n";
  TRecordRow r;
  r.Mode = RecordStepByStep;
  for (int i = 1; i <= 4000; ++i) {
    r.Dip = i, r.WrittenAt = 20 * i;
    r.Task = std::string(i == 2000 ? 3 << 20 : 290 + i % 7, 'a');
    record += FormatRecordRow(r) + (i % 2 ? "\n" : "\r\n");
    for (int k = 19; k >= 0; --k) reads += std::to_string(20 * i - k) + ",3," + std::to_string(i) + "\n";
  }
  Put("long.csv", record);
  Put("long.reads.csv", reads);
  std::vector<TRecordRow> rows;
  std::string error;
  ASSERT_TRUE(ReadRunRecord("long.csv", rows, error)) << error;
  ASSERT_EQ(rows.size(), 4000u);
  int wrong = 0;
  for (int i = 1; i <= 4000; ++i) {
    const TRecordRow &x = rows[size_t(i - 1)];
    wrong += x.Dip != i || x.Task.size() != (i == 2000 ? 3u << 20 : 290u + i % 7) || x.ZReads.size() != 20 ||
             x.ZReads.front() != TReading(20 * i - 19, i) || x.ZReads.back() != TReading(20 * i, i);
  }
  EXPECT_EQ(wrong, 0);
}

// A kill or a full disk at every byte the recorder writes: what is on disk
// reads back as the rows and events written before, in order, the last one
// possibly left out; never a row that was not written.
TEST_F(RecordFile, EveryWritePointKeepsTheRowsBefore) {
  THostFixture host;
  TMemoryFolder memory;
  auto write = [] {
    TRunRecorder &r = RunRecorder();
    r.Begin("T", 0, 0);
    for (int i = 0; i < 2; ++i) {
      r.Event("dip " + std::to_string(i) + ": down stroke begins");
      r.NoteRead(3, 5.0 + i * 0.125);
      TRecordRow row;
      row.Mode = RecordStepByStep, row.Dip = i + 1, row.InSpeed = 0.0125, row.End = EndDone;
      r.Add(row);
    }
    r.Finish(EndDone, 0);
  };
  AtEveryWritePoint(
      [] { std::filesystem::remove_all("runs"); }, write,
      [&](bool) {
        std::vector<std::string> files;
        if (std::filesystem::exists("runs"))
          for (auto &f : std::filesystem::directory_iterator("runs"))
            if (f.path().extension() == ".csv" && f.path().string().find(".reads.") == std::string::npos)
              files.push_back(f.path().string());
        if (files.empty()) return;
        // Whole lines only, the header first: never an empty or cut file.
        for (const std::string &path : {files[0], RunReadsPath(files[0])}) {
          const std::string all = Exists(path) ? Get(path) : "\n";
          EXPECT_TRUE(!all.empty() && all.back() == '\n') << path << ": " << all;
        }
        const std::string text = Get(files[0]);
        EXPECT_EQ(text.substr(0, RecordHeader().size() + 1), RecordHeader() + "\n");
        std::vector<TRecordRow> rows, events;
        std::string error;
        ASSERT_TRUE(ReadRunRecord(files[0], rows, events, error)) << error << "\n" << text;
        for (size_t i = 0; i < events.size(); ++i)
          EXPECT_EQ(events[i].Event, "dip " + std::to_string(i) + ": down stroke begins");
        for (size_t i = 0; i < rows.size(); ++i) {
          EXPECT_EQ(rows[i].Mode, i < 2 ? RecordStepByStep : RecordEnd);
          EXPECT_EQ(rows[i].Dip, i < 2 ? int(i) + 1 : 0);
        }
      },
      100000, RecordHeader().size() - 2);
}

// A number field as read, whatever the locale: the record's own forms and
// blanks; overflow, garbage, trailing junk and a time no count of ms holds
// make the line no row.
TEST(RecordNumbers, ReadOrTheLineRefused) {
  const char *old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) std::setlocale(LC_ALL, "de_DE.utf8");
  const struct {
    const char *Text;
    bool Cm;
    double CmValue;
    bool Ms;
    int64_t MsValue;
  } cases[] = {{"125E-4", true, 0.0125, true, 0},  {"-3", true, -3, false, 0},  {"", true, NAN, true, -1},
               {"1e400", false, 0, false, 0},     {"nan", true, NAN, false, 0}, {"x1", false, 0, false, 0},
               {"12 3", false, 0, false, 0},      {"4E3", true, 4000, true, 4000}, {"1e300", true, 1e300, false, 0}};
  std::vector<std::string> failed;
  for (const auto &c : cases) {
    std::string line = FormatRecordRow(TRecordRow());
    size_t at = 0;
    for (int i = 0; i < 11; ++i) at = line.find(',', at) + 1;  // "Z bottom cm"
    line.insert(at, c.Text);
    TRecordRow r;
    const bool cm = ParseRecordRow(line, r);
    if (cm != c.Cm || (cm && !(r.Bottom == c.CmValue || (std::isnan(r.Bottom) && std::isnan(c.CmValue)))))
      failed.push_back(std::string("cm ") + c.Text);
    line = FormatRecordRow(TRecordRow());
    line.insert(0, c.Text);  // "Written ms"
    const bool ms = ParseRecordRow(line, r);
    if (ms != c.Ms || (ms && r.WrittenAt != c.MsValue)) failed.push_back(std::string("ms ") + c.Text);
  }
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(failed, std::vector<std::string>());
}
