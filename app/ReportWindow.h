#pragma once
// The report log: one line per ReportLine call, appended at the end.
#include <QPlainTextEdit>
#include <string>

#include "base/Host.h"

class TReportWindow : public QPlainTextEdit, public IReportSink {
  Q_OBJECT
public:
  // The program never clears the log; over days of runs it would grow
  // without end, so only the newest lines are kept (the day log on disk
  // keeps them all).
  static constexpr int MaxLines = 20000;

  explicit TReportWindow(QWidget *parent = nullptr);
  void AppendLine(const std::string &line) override;
  int LineCount() const;
  std::string Line(int index) const;  // 0 = oldest line kept

private:
  long long Appended = 0;
};
