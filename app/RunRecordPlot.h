#pragma once
// The charts of the "Run record" window (Qt Charts): Z over the run's time,
// all dips of a process on top of each other from their down command, and
// the holds and withdrawal speed per dip against the recipe. The same
// filling serves the window and the exported pictures.
#include <QChartView>
#include <QList>
#include <QPointF>
#include <QString>
#include <functional>
#include <vector>

#include "record/RunRecord.h"

class QDateTimeAxis;
class QValueAxis;
class QLineSeries;
class QScatterSeries;
class QXYSeries;
class QAreaSeries;

// The run chart's time axis is a date-time axis (labels "h:mm:ss"); a run's
// ms are counted from a fixed local midnight.
double AxisTime(double ms);
double RecordMs(double axisValue);
// ms since the run began as "h:mm:ss.s".
QString ClockText(double ms);

// What a row was and did, several lines (the hover read-out).
QString RowText(const TRecordRow &row);
// The row that covers `ms` (within `slack` ms), or null.
const TRecordRow *RowAt(const std::vector<TRecordRow> &rows, double ms, double slack);
// The processes with step-by-step dips, in the order they first ran.
QStringList DipProcesses(const std::vector<TRecordRow> &rows);
// One line per process: its position and what the recipe asks.
QStringList RecipeLines(const std::vector<TRecordRow> &rows);

// Z over time. Rows are added as they come; only new ones cost work.
class TRunChart {
public:
  explicit TRunChart(QChart *chart);
  QChart *Chart;
  QDateTimeAxis *Time;
  QValueAxis *Z;
  // Adds the rows not shown yet (all again when `rows` is not the run shown
  // before) and puts the dip in progress (may be null) on the live line.
  void Update(const std::vector<TRecordRow> &rows, const std::vector<TReading> *live);
  void Clear();
  // Both axes to the whole run.
  void Fit();
  int Points() const;  // drawn points, all series

private:
  QLineSeries *Recipe, *Seen, *Live, *TravelTop, *TravelBottom, *FastTop, *FastBottom;
  QAreaSeries *Travel, *Fast;
  QScatterSeries *Faults;
  // What the series show, kept here and handed over once an update.
  QList<QPointF> RecipePts, SeenPts, LivePts, TravelTopPts, TravelBottomPts, FastTopPts, FastBottomPts,
      FaultPts;
  std::vector<std::pair<QXYSeries *, QList<QPointF> *>> Lists();
  size_t RowsShown = 0, LiveShown = 0;
  const void *Shown = nullptr;
  double T1 = 1000, Z0 = 0, Z1 = 1;
  void Add(const TRecordRow &row);
  void SeeZ(double z);
};

// All step-by-step dips of `process` drawn from their down command (s).
// `hover` is told the text to show for a point under the mouse.
void FillOverlayChart(QChart *chart, const std::vector<TRecordRow> &rows, const QString &process,
                      const std::function<void(const QString &)> &hover);
// Per dip of `process` (its number in the run): time held at the bottom and
// at the top (s) and the withdrawal speed (cm/s), beside the recipe's.
void FillHoldsChart(QChart *chart, const std::vector<TRecordRow> &rows, const QString &process,
                    const std::function<void(const QString &)> &hover);

// A chart view with wheel zoom (around the mouse; time only, Ctrl both
// axes), box zoom (drag), pan (middle button, or Shift and drag, or the
// arrow keys) and back to the whole (double-click, Home).
class TZoomView : public QChartView {
  Q_OBJECT
public:
  explicit TZoomView(QChart *chart, QWidget *parent = nullptr);
  bool Zoomed() const { return UserZoomed; }
  void Whole();
  void ZoomBy(double factor, QPointF at);  // at: widget position
  void Pan(double dx, double dy);          // pixels

signals:
  void WholeAsked();                         // refit the axes to the data
  void Hover(QPointF value, QPoint global);  // the chart's values under the mouse
  void Left();

protected:
  void wheelEvent(QWheelEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void leaveEvent(QEvent *event) override;

private:
  bool UserZoomed = false;
  bool Panning = false;
  QPoint Last;
};
