// ReportLine's filter, through the log control itself.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QScrollBar>

#include "support/Fakes.h"
#include "app/ReportWindow.h"

namespace {

TEST(Report, LevelOneHidesOnlyDollarLinesAndTheLogIsBounded) {
  THostFixture host(1);
  TReportWindow log;
  Host().Report = &log;
  for (const char *l : {"$ Move [", "Moving to home position ..", " $ blank first", "", "$", "  ... done."})
    ReportLine(l);
  ASSERT_EQ(log.LineCount(), 4);
  EXPECT_EQ(log.Line(0), "Moving to home position ..");
  EXPECT_EQ(log.Line(1), " $ blank first");
  EXPECT_EQ(log.Line(2), "");
  EXPECT_EQ(log.Line(3), "  ... done.");

  const int extra = TReportWindow::MaxLines + 5;
  for (int i = 0; i < extra; ++i) ReportLine("line " + std::to_string(i));
  EXPECT_EQ(log.LineCount(), TReportWindow::MaxLines);
  EXPECT_EQ(log.Line(TReportWindow::MaxLines - 1), "line " + std::to_string(extra - 1));
}

// A long line must not leave the log scrolled sideways: the lines after it
// would show as empty, and the operator would see no report at all.
TEST(Report, ShowsTheStartOfLinesAfterALongOne) {
  TReportWindow log;
  log.resize(273, 227);
  // As at start-up: written before the window shows.
  log.AppendLine(
      "Error setting CommState, 87 indicate that Parms are incorrect (place 802, code 22: Invalid argument)");
  log.show();
  QCoreApplication::processEvents();
  log.AppendLine("Axis 1: ");
  log.AppendLine("  ... done.");
  QCoreApplication::processEvents();
  EXPECT_EQ(log.horizontalScrollBar()->value(), 0);
}

}  // namespace
