// ReportLine's filter, through the log control itself.
#include <gtest/gtest.h>

#include "base/Host.h"
#include "app/ReportWindow.h"

#include <QCoreApplication>
#include <QScrollBar>

namespace {

class ReportTest : public ::testing::Test {
protected:
  TReportWindow Log;
  THost Saved;
  uint8_t SavedLevel = ReportLevel;
  void SetUp() override {
    Saved = Host();
    Host().Report = &Log;
  }
  void TearDown() override {
    Host() = Saved;
    ReportLevel = SavedLevel;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> v;
    for (int i = 0; i < Log.LineCount(); ++i) v.push_back(Log.Line(i));
    return v;
  }
};

TEST_F(ReportTest, LevelOneHidesOnlyDollarLines) {
  ReportLevel = 1;
  ReportLine("$ Move [");
  ReportLine("Moving to home position ..");
  ReportLine(" $ blank first");
  ReportLine("");
  ReportLine("$");
  ReportLine("*** SerialTalk: TimeOut  ");
  ReportLine("WARNING VERI [  1]: Software limit switch reached");
  ReportLine("  ... done.");
  const std::vector<std::string> want = {"Moving to home position ..", " $ blank first", "",
                                         "*** SerialTalk: TimeOut  ",
                                         "WARNING VERI [  1]: Software limit switch reached",
                                         "  ... done."};
  EXPECT_EQ(Lines(), want);
}

TEST_F(ReportTest, OtherLevels) {
  ReportLevel = 2;
  ReportLine("$ VERI Call: ");
  ReportLine("progress");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"$ VERI Call: ", "progress"}));
  for (int level : {0, 3, 255}) {
    ReportLevel = static_cast<uint8_t>(level);
    ReportLine("progress at " + std::to_string(level));
    ReportLine("$ trace");
  }
  EXPECT_EQ(Log.LineCount(), 2);
  // Direct lines ignore the level.
  ReportLevel = 0;
  ReportDirect("$ direct");
  EXPECT_EQ(Log.Line(2), "$ direct");
}

TEST_F(ReportTest, FirstEmptyLineCountsAndLogIsBounded) {
  ReportLevel = 1;
  ReportLine("");
  EXPECT_EQ(Log.LineCount(), 1);
  ReportLine("second");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "second"}));

  const int extra = TReportWindow::MaxLines + 5;
  for (int i = 0; i < extra; ++i) ReportLine("line " + std::to_string(i));
  EXPECT_EQ(Log.LineCount(), TReportWindow::MaxLines);
  EXPECT_EQ(Log.Line(TReportWindow::MaxLines - 1), "line " + std::to_string(extra - 1));
  EXPECT_EQ(Log.Line(0), "line " + std::to_string(extra - TReportWindow::MaxLines));
}

}  // namespace

// A long line must not leave the log scrolled sideways: the lines after it
// would show as empty, and the operator would see no report at all.
TEST(ReportWindowView, ShowsTheStartOfLinesAfterALongOne) {
  TReportWindow log;
  log.resize(273, 227);
  // As at start-up: written before the window shows.
  log.AppendLine("Error setting CommState, 87 indicate that Parms are incorrect (place 802, code 22: Invalid argument)");
  log.show();
  QCoreApplication::processEvents();
  log.AppendLine("Axis 1: ");
  log.AppendLine("  ... done.");
  QCoreApplication::processEvents();
  EXPECT_EQ(log.horizontalScrollBar()->value(), 0);
}
