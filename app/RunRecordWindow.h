#pragma once
// The "Run record" window: the Z position over time of the current or last
// run, what the recipe asked beside what the machine did, and the travels
// between processes. It follows a running task and can show a past run's
// file. It never blocks: a run goes on while it is open.
#include <QDialog>
#include <string>
#include <vector>

#include "record/RunRecord.h"

class QLabel;
class QPushButton;
class QTimer;

// The drawing: seconds since the run began across, Z in cm downwards (the
// way the holder dips).
class TRunRecordPlot : public QWidget {
  Q_OBJECT
public:
  explicit TRunRecordPlot(QWidget *parent = nullptr);
  // What to draw; `live` (the dip in progress) may be null. Both must stay
  // alive while shown.
  void SetRows(const std::vector<TRecordRow> *rows, const std::vector<TReading> *live);
  // Where a point (ms since the run began, cm) lies, as last drawn.
  QPointF At(double ms, double z) const;
  // What hovering there shows: the row under that time; empty over nothing.
  QString TextAt(const QPoint &p) const;

protected:
  void paintEvent(QPaintEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;

private:
  void Measure();
  void DrawAxes(class QPainter &p) const;
  void DrawLegend(QPainter &p) const;
  const std::vector<TRecordRow> *Rows = nullptr;
  const std::vector<TReading> *Live = nullptr;
  double T1 = 1000, Z0 = 0, Z1 = 1;  // shown range: 0..T1 ms, Z0..Z1 cm
  QRectF Area;
};

class TRunRecordWindow : public QDialog {
  Q_OBJECT
public:
  explicit TRunRecordWindow(QWidget *parent = nullptr);
  ~TRunRecordWindow() override;

  // "Current run": the recorder's rows, followed as they come.
  void FollowRecorder();
  // A past run's file. False when it cannot be read: a message box gives the
  // reason and the window keeps what it showed.
  bool OpenRecord(const std::string &path);
  // Rows read elsewhere, shown as a past run.
  void ShowRows(std::vector<TRecordRow> rows, const std::string &path);
  bool Following() const { return Follow; }

  TRunRecordPlot *Plot;
  QLabel *Info;  // the record's file and how the run ended
  QPushButton *OpenButton, *CurrentButton;

protected:
  void showEvent(QShowEvent *event) override;
  void hideEvent(QHideEvent *event) override;

private:
  void OpenClick();
  void Listen(bool on);
  void Changed();  // the recorder's rows changed
  void Refresh();
  void UpdateLive();

  bool Follow = true;
  bool Listening = false;
  bool RefreshDue = false;
  std::vector<TRecordRow> Opened;
  std::string OpenedPath;
  QTimer *LiveTimer;
};

// The line under the drawing: file name, how the run ended and its first
// fault.
QString RecordSummary(const std::vector<TRecordRow> &rows, const std::string &path, bool running);
