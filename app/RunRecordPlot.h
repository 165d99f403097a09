#pragma once
// The charts of the "Run record" window (Qt Charts): Z over the run's time,
// all dips of a process on top of each other from their down command, and
// the holds and withdrawal speed per dip against the recipe. The same
// filling serves the window and the exported pictures.
#include <QChartView>
#include <QList>
#include <QPointF>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "record/RunRecord.h"

class QDateTimeAxis;
class QValueAxis;
class QLineSeries;
class QScatterSeries;
class QXYSeries;
class QAreaSeries;
class QImage;

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

// A line kept whole in memory and drawn thinned to the pixels: per pixel
// column of the visible range its first, lowest, highest and last point,
// so a run of any length draws a few thousand points. New points cost only
// the last column again.
class TThinLine {
public:
  explicit TThinLine(QXYSeries *series) : Series(series) {}
  QXYSeries *Series;
  // x ascending; a deque: growing never copies a night's points at once
  std::deque<QPointF> All;
  void Append(double x, double y);  // a run of equal y keeps its two ends
  void Clear();
  // Draws [x0, x1] in `columns` columns; only what is new when the range,
  // the columns and the earlier points are as last time.
  void Draw(double x0, double x1, int columns);
  int Shown() const { return int(Thin.size()); }

private:
  double X0 = 0, X1 = 0;
  int Columns = 0;
  size_t Open = 0;         // All's index where the last drawn column begins
  qsizetype ThinOpen = 0;  // Thin's index of that column's first point
  size_t Drawn = 0;        // All's size when last drawn
  QList<QPointF> Thin;
};

// Bands of time (travels, fast dips), drawn into the plot area's background;
// an empty area series gives their legend entry.
class TBands {
public:
  TBands(QChart *chart, const char *name, const QColor &color);
  QAreaSeries *Area;
  std::vector<std::pair<double, double>> All;  // axis time, ascending
  // Colours the pixels of `row` (spanning [x0, x1]) the bands cover.
  void Paint(QImage &row, double x0, double x1) const;
  void Clear();
  bool Changed = true;

private:
  QColor Color;
  QLineSeries *Top, *Bottom;
};

// Z over time. Rows are added as they come; a tick draws only what is new,
// thinned to the chart's pixels.
class TRunChart {
public:
  explicit TRunChart(QChart *chart);
  ~TRunChart();
  QChart *Chart;
  QDateTimeAxis *Time;
  QValueAxis *Z;
  void Add(const TRecordRow &row);
  // The dip in progress (may be null): its reads so far.
  void SetLive(const std::vector<TReading> *live);
  // What is new onto the series; everything again when the range or the
  // chart's width changed.
  void Draw();
  // Adds the rows not shown yet (all again when `rows` is not the run shown
  // before), the live reads, and draws.
  void Update(const std::vector<TRecordRow> &rows, const std::vector<TReading> *live);
  void Clear();
  // Both axes to the whole run, the time at a round step; the axes are left
  // alone while the run still fits them.
  void Fit();
  // The time range moved to eight round steps near it (after a zoom or a
  // pan), so the ticks fall on round times.
  void RoundTime();
  // The time range moved by `steps` of its round tick step (the arrow keys),
  // so the ticks stay on round times.
  void StepTime(int steps);
  // The data of another chart (the export draws its own at its size).
  void CopyFrom(const TRunChart &other);
  int Points() const;  // drawn points, all series
  // The Z reading (axis time, cm) nearest to axis time `x`, within `slack`
  // ms; false when none is that near.
  bool Nearest(double x, double slack, QPointF &reading) const;
  double EndMs() const { return T1; }

private:
  TThinLine *Recipe, *Seen, *Live;
  TBands *Travel, *Fast;
  QScatterSeries *Faults;
  std::vector<QPointF> FaultPts;
  size_t RowsShown = 0, LiveShown = 0;
  const void *Shown = nullptr;
  double T1 = 1000, Z0 = 0, Z1 = 1;
  double Rounded = 0;  // the time range's span as last fitted or rounded
  bool Drawing = false;
  QObject *Guard;  // context of the chart's signals to this, gone with it
  void SeeZ(double z);
};

// Every step-by-step dip of one process from its down command, gathered as
// rows come: per time slot the lowest and highest Z over all dips and
// which dip it was, the latest dip's curve, the dips not done, the recipe.
// Adding a dip costs its own points; drawing costs the chart's width.
struct TDipBundle {
  double SlotMs = 0;  // set by the first dip
  std::vector<float> Lo, Hi;
  std::vector<int> LoDip, HiDip;
  int Count = 0, Done = 0;
  std::vector<QPointF> Latest, Recipe;  // s, cm
  QString LatestWhat;
  std::vector<std::pair<QString, std::vector<QPointF>>> NotDone;  // the first few
  double T1 = 1, Z0 = 1e9, Z1 = -1e9;
  void Add(const TRecordRow &row);
};

// The bundles of a whole record's dips, per process.
std::map<QString, TDipBundle> BundleDips(const std::vector<TRecordRow> &rows);

// What ends the legend names of a second run's series.
inline constexpr char ComparisonTag[] = " (comparison)";

// The dips of `process` drawn from their down command (s): their range as
// a band, the latest dip, the dips not done, the recipe. `hover` is told
// the text to show for a point under the mouse. A `comparison` (another
// run's dips of the process) is drawn beside them in its own colour, its
// names ending in ComparisonTag.
void FillOverlayChart(QChart *chart, const TDipBundle *bundle, const QString &process,
                      const std::function<void(const QString &)> &hover,
                      const TDipBundle *comparison = nullptr);
// Per dip of `process` (its number in the run): time held at the bottom and
// at the top (s) and the withdrawal speed (cm/s), beside the recipe's; the
// dips not done marked. The `comparison` rows' dips of the process likewise,
// without the recipe, in their own colour.
void FillHoldsChart(QChart *chart, const std::vector<TRecordRow> &rows, const QString &process,
                    const std::function<void(const QString &)> &hover,
                    const std::vector<TRecordRow> *comparison = nullptr);

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
  // Set by a time chart: the left and right keys move by its tick step
  // instead of a number of pixels.
  std::function<void(int steps)> StepTime;

signals:
  void WholeAsked();                         // refit the axes to the data
  void Settled();                            // a zoom or a mouse pan ended
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
