#include "app/ReportWindow.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

TReportWindow::TReportWindow(QWidget *parent) : QPlainTextEdit(parent) {
  setObjectName("ReportWindow");
  setReadOnly(true);
  setFocusPolicy(Qt::ClickFocus);  // not reached by Tab
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setMaximumBlockCount(MaxLines);
  setUndoRedoEnabled(false);
  QFont f("Arial", 8);
  f.setBold(false);  // not the bold caption font of the panel around it
  setFont(f);
}

void TReportWindow::AppendLine(const std::string &line) {
  const QString text = QString::fromStdString(line);
  if (Appended > 0 && document()->isEmpty()) {
    // The first line was empty: appendPlainText would write into its block.
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    c.insertBlock();
    c.insertText(text);
  } else {
    appendPlainText(text);
  }
  // Showing the log scrolls to its cursor, which the first line carries to
  // its end: after a long first line every later line would sit out of
  // sight to the left. Until then the cursor stays at the start.
  if (!isVisible()) moveCursor(QTextCursor::Start);
  ++Appended;
}

int TReportWindow::LineCount() const {
  // An empty document still has one block; it is a line only once appended.
  return Appended == 0 ? 0 : document()->blockCount();
}

std::string TReportWindow::Line(int index) const {
  return document()->findBlockByNumber(index).text().toStdString();
}
