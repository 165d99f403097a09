// The record file read back: quoted names, blanks for what was not seen,
// a last row cut short by a crash, and a file that is no record.
#include <gtest/gtest.h>

#include "record/RunRecord.h"
#include "support/TempDir.h"

using RecordFile = TTempDirTest;

TEST_F(RecordFile, RowsReadBackAsWrittenAndACutLastRowIsLeftOut) {
  TRecordRow r;
  r.Task = "Coat; \"fine\"";
  r.Mode = RecordStepByStep;
  r.Dip = 2, r.Dips = 3;
  r.Top = 1.5, r.Bottom = 2.25;
  r.DownAt = 0, r.UpAt = 1234;
  r.Withdrawal = 1.9995;
  r.ZReads = {{10, 1.5}, {35, 1.75}};
  r.End = EndLost;
  const std::string line = FormatRecordRow(r);
  Put("r.csv", RecordHeader() + "\n" + line + "\n" + line.substr(0, 20));
  std::vector<TRecordRow> rows;
  std::string error;
  ASSERT_TRUE(ReadRunRecord("r.csv", rows, error)) << error;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Task, r.Task);
  EXPECT_EQ(rows[0].Bottom, 2.25);
  EXPECT_EQ(rows[0].BottomAt, -1);
  EXPECT_EQ(rows[0].UpAt, 1234);
  EXPECT_EQ(rows[0].Withdrawal, 2.0);  // three decimals kept
  EXPECT_EQ(rows[0].ZReads, r.ZReads);
  EXPECT_EQ(rows[0].End, EndLost);
  // A cut row in the middle, and a file that is not a record, are refused.
  Put("r.csv", RecordHeader() + "\n" + line.substr(0, 20) + "\n" + line + "\n");
  EXPECT_FALSE(ReadRunRecord("r.csv", rows, error));
  EXPECT_EQ(error, "line 2 is not a row of a run record");
  Put("x.csv", "a;b\n");
  EXPECT_FALSE(ReadRunRecord("x.csv", rows, error));
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_EQ(RunRecordPath("a/b:c", 0).substr(24), "_a_b_c.csv");
}
