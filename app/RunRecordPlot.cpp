// The charts of the "Run record" window.
#include "app/RunRecordPlot.h"

#include <QAreaSeries>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGuiApplication>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <map>

namespace {
const QColor RecipeColor(120, 190, 255);
const QColor SeenColor(0, 50, 150);
const QColor LiveColor(230, 110, 0);
const QColor TravelColor(222, 222, 222);
const QColor FastColor(255, 238, 190);
const QColor FaultColor(200, 0, 0);
const QColor TopColor(0, 140, 70);
constexpr double BandHeight = 1e4;  // cm: a band fills the chart's height

struct TPoint {
  double Ms, Z;
};

bool IsDip(const TRecordRow &r) { return r.Mode == RecordStepByStep; }
bool IsEnd(const TRecordRow &r) { return r.Mode == RecordEnd; }
bool Failed(const TRecordRow &r) { return !IsEnd(r) && r.End != EndDone; }

// What the recipe asks, from the moment the down stroke was commanded.
std::vector<TPoint> Nominal(const TRecordRow &r, double from) {
  if (!IsDip(r) || !std::isfinite(r.Top) || !std::isfinite(r.Bottom)) return {};
  if (!(r.InSpeed > 0) || !(r.OutSpeed > 0)) return {};
  const double stroke = std::fabs(r.Bottom - r.Top);
  auto wait = [](double s) { return std::isfinite(s) && s > 0 ? s * 1000 : 0.0; };
  double t = from;
  std::vector<TPoint> pts{{t, r.Top}};
  pts.push_back({t += stroke / r.InSpeed * 1000, r.Bottom});
  pts.push_back({t += wait(r.InTime), r.Bottom});
  pts.push_back({t += stroke / r.OutSpeed * 1000, r.Top});
  pts.push_back({t += wait(r.OutTime), r.Top});
  return pts;
}
std::vector<TPoint> Nominal(const TRecordRow &r) {
  return r.DownAt < 0 ? std::vector<TPoint>{} : Nominal(r, double(r.DownAt));
}

// What was seen: the position reads together with the four moments of the
// stroke, in time order. The reads alone may be too few to show the stroke.
std::vector<TPoint> Observed(const TRecordRow &r) {
  std::vector<TPoint> pts;
  for (const TReading &z : r.ZReads) pts.push_back({double(z.first), z.second});
  if (IsDip(r)) {
    const std::pair<int64_t, double> moments[] = {
        {r.DownAt, r.Top}, {r.BottomAt, r.Bottom}, {r.UpAt, r.Bottom}, {r.TopAt, r.Top}};
    for (const auto &m : moments)
      if (m.first >= 0) pts.push_back({double(m.first), m.second});
  }
  std::stable_sort(pts.begin(), pts.end(), [](const TPoint &a, const TPoint &b) { return a.Ms < b.Ms; });
  return pts;
}

int64_t LastSeen(const TRecordRow &r) {
  int64_t t = std::max({r.DownAt, r.BottomAt, r.UpAt, r.TopAt});
  if (!r.ZReads.empty()) t = std::max(t, r.ZReads.back().first);
  return t;
}

// The time a row covers, ms.
std::pair<double, double> Span(const TRecordRow &r) {
  double end = double(LastSeen(r));
  const std::vector<TPoint> nom = Nominal(r);
  if (r.TopAt < 0 && !nom.empty()) end = std::max(end, nom.back().Ms);
  return {double(r.DownAt), end};
}

QString Fixed(double v, int decimals = 2) {
  return std::isfinite(v) ? QString::number(v, 'f', decimals) : QString("-");
}
QString Seconds(int64_t ms) { return ms < 0 ? QString("-") : ClockText(double(ms)); }

// Adds a point; a run of equal Z (a hold, a pause) keeps its two ends only.
void Append(QList<QPointF> &pts, double x, double z) {
  const qsizetype n = pts.size();
  if (n >= 2 && pts[n - 1].y() == z && pts[n - 2].y() == z) pts[n - 1] = QPointF(x, z);
  else pts.append(QPointF(x, z));
}

QLineSeries *Line(QChart *chart, const QString &name, const QPen &pen) {
  auto *s = new QLineSeries;
  s->setName(name);
  s->setPen(pen);
  chart->addSeries(s);
  return s;
}

void PlainLook(QChart *chart) {
  chart->setBackgroundBrush(Qt::white);
  chart->setPlotAreaBackgroundVisible(false);
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->legend()->setAlignment(Qt::AlignRight);
  chart->setAnimationOptions(QChart::NoAnimation);
}

void HideMarker(QChart *chart, QAbstractSeries *s) {
  for (QLegendMarker *m : chart->legend()->markers(s)) m->setVisible(false);
}

// Dips of `process`, in run order.
std::vector<const TRecordRow *> DipsOf(const std::vector<TRecordRow> &rows, const QString &process) {
  std::vector<const TRecordRow *> dips;
  for (const TRecordRow &r : rows)
    if (IsDip(r) && QString::fromStdString(r.Process) == process) dips.push_back(&r);
  return dips;
}

QValueAxis *ValueAxis(const QString &title, const char *format) {
  auto *a = new QValueAxis;
  a->setTitleText(title);
  a->setLabelFormat(format);
  return a;
}
}  // namespace

double AxisTime(double ms) {
  static const double base = double(QDateTime(QDate(2000, 1, 1), QTime(0, 0)).toMSecsSinceEpoch());
  return base + ms;
}
double RecordMs(double axisValue) { return axisValue - AxisTime(0); }

QString ClockText(double ms) {
  const double s = std::max(0.0, ms) / 1000;
  const int h = int(s / 3600), m = int(std::fmod(s, 3600) / 60);
  return QString("%1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(std::fmod(s, 60), 4, 'f', 1, QChar('0'));
}

QString RowText(const TRecordRow &r) {
  const QString proc = QString::fromStdString(r.Process), pos = QString::fromStdString(r.Position);
  QStringList lines;
  if (r.Mode == RecordTravel) {
    lines << QString("travel to %1 (X %2, Y %3 cm)").arg(pos, Fixed(r.X), Fixed(r.Y));
    lines << QString("seen: from %1 to %2").arg(Seconds(r.DownAt), Seconds(r.TopAt));
  } else if (r.Mode == RecordFast) {
    lines << QString("%1 at %2: fast dips %3").arg(proc, pos).arg(r.Dips);
    lines << QString("recipe: Z %1 to %2 cm").arg(Fixed(r.Top), Fixed(r.Bottom));
    lines << QString("seen: from %1 to %2 %3")
                 .arg(Seconds(r.DownAt), Seconds(r.TopAt), QString::fromStdString(r.Seen));
  } else {
    lines << QString("%1 at %2: dip %3 of %4").arg(proc, pos).arg(r.Dip).arg(r.Dips);
    lines << QString("recipe: Z %1 to %2 cm, down %3 cm/s, %4 s at the bottom, up %5 cm/s, %6 s at the top")
                 .arg(Fixed(r.Top), Fixed(r.Bottom), Fixed(r.InSpeed, 4), Fixed(r.InTime),
                      Fixed(r.OutSpeed, 4), Fixed(r.OutTime));
    lines << QString("seen: down %1, bottom %2, up %3, top %4")
                 .arg(Seconds(r.DownAt), Seconds(r.BottomAt), Seconds(r.UpAt), Seconds(r.TopAt));
    lines << QString("held %1 s at the bottom, %2 s at the top; withdrawal %3 cm/s")
                 .arg(Fixed(r.HeldBottom < 0 ? NAN : r.HeldBottom / 1000.0, 3),
                      Fixed(r.HeldTop < 0 ? NAN : r.HeldTop / 1000.0, 3), Fixed(r.Withdrawal, 4));
  }
  if (!r.Outputs.empty()) lines << "outputs: " + QString::fromStdString(r.Outputs);
  QString end = "end: " + QString::fromStdString(r.End.empty() ? "-" : r.End);
  if (r.ErrorBits) end += QString(" (error bits 0x%1)").arg(r.ErrorBits, 4, 16, QChar('0'));
  lines << end;
  return lines.join('\n');
}

const TRecordRow *RowAt(const std::vector<TRecordRow> &rows, double ms, double slack) {
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    if (IsEnd(*it) || it->DownAt < 0) continue;
    const auto span = Span(*it);
    if (ms >= span.first - slack && ms <= span.second + slack) return &*it;
  }
  return nullptr;
}

QStringList DipProcesses(const std::vector<TRecordRow> &rows) {
  QStringList names;
  for (const TRecordRow &r : rows)
    if (IsDip(r) && !names.contains(QString::fromStdString(r.Process)))
      names << QString::fromStdString(r.Process);
  return names;
}

QStringList RecipeLines(const std::vector<TRecordRow> &rows) {
  QStringList lines, seen;
  for (const TRecordRow &r : rows) {
    if ((!IsDip(r) && r.Mode != RecordFast) || seen.contains(QString::fromStdString(r.Process))) continue;
    seen << QString::fromStdString(r.Process);
    QString line = QString("%1 at %2: Z %3 to %4 cm")
                       .arg(QString::fromStdString(r.Process), QString::fromStdString(r.Position),
                            Fixed(r.Top), Fixed(r.Bottom));
    if (IsDip(r))
      line += QString(", down %1 cm/s, %2 s at the bottom, up %3 cm/s, %4 s at the top, %5 dips")
                  .arg(Fixed(r.InSpeed, 4), Fixed(r.InTime), Fixed(r.OutSpeed, 4), Fixed(r.OutTime))
                  .arg(r.Dips);
    else line += QString(", %1 fast dips").arg(r.Dips);
    lines << line;
  }
  return lines;
}

// --- run chart ------------------------------------------------------------

namespace {
// A filled band between two new line series, without an outline.
QAreaSeries *Band(QLineSeries *&top, QLineSeries *&bottom, const char *name, const QColor &color) {
  top = new QLineSeries;
  bottom = new QLineSeries;
  QAreaSeries *band = new QAreaSeries(top, bottom);
  band->setName(name);
  band->setBrush(color);
  band->setPen(Qt::NoPen);
  return band;
}
}  // namespace

TRunChart::TRunChart(QChart *chart) : Chart(chart) {
  PlainLook(chart);
  // A band is the area between a line that rises to the chart's height
  // over the band and one that stays below it: nothing between bands.
  Travel = Band(TravelTop, TravelBottom, "travel", TravelColor);
  Fast = Band(FastTop, FastBottom, "fast dips", FastColor);
  chart->addSeries(Travel);
  chart->addSeries(Fast);
  // Solid: Qt strokes a dashed line of a whole run ten times slower, and
  // the window draws while the run waits.
  Recipe = Line(chart, "recipe", QPen(RecipeColor, 1.5));
  Seen = Line(chart, "observed", QPen(SeenColor, 2));
  Live = Line(chart, "dip in progress", QPen(LiveColor, 2));
  Faults = new QScatterSeries;
  Faults->setName("not done");
  Faults->setColor(FaultColor);
  Faults->setBorderColor(FaultColor);
  Faults->setMarkerSize(10);
  chart->addSeries(Faults);

  Time = new QDateTimeAxis;
  Time->setFormat("h:mm:ss");
  Time->setTitleText("time since the run began (h:mm:ss)");
  Time->setTickCount(9);
  Z = ValueAxis("Z [cm], down", "%.1f");
  Z->setReverse(true);
  chart->addAxis(Time, Qt::AlignBottom);
  chart->addAxis(Z, Qt::AlignLeft);
  for (QAbstractSeries *s : chart->series()) {
    s->attachAxis(Time);
    s->attachAxis(Z);
  }
  // Finer labels once zoomed into seconds.
  QObject::connect(Time, &QDateTimeAxis::rangeChanged, Time, [this](const QDateTime &a, const QDateTime &b) {
    Time->setFormat(a.msecsTo(b) < 60000 ? "h:mm:ss.zzz" : "h:mm:ss");
  });
  Fit();
}

void TRunChart::Clear() {
  for (auto &[series, pts] : Lists()) {
    pts->clear();
    series->clear();
  }
  RowsShown = LiveShown = 0;
  T1 = 1000, Z0 = 0, Z1 = 1;
}

void TRunChart::SeeZ(double z) {
  if (!std::isfinite(z)) return;
  Z0 = std::min(Z0, z);
  Z1 = std::max(Z1, z);
}

void TRunChart::Add(const TRecordRow &r) {
  if (IsEnd(r)) {
    if (r.TopAt >= 0) T1 = std::max(T1, double(r.TopAt));
    return;
  }
  const auto span = Span(r);
  if (span.first >= 0) T1 = std::max(T1, span.second);
  if (r.Mode == RecordTravel || r.Mode == RecordFast) {
    if (span.first >= 0) {
      const bool fast = r.Mode == RecordFast;
      const double x0 = AxisTime(span.first), x1 = AxisTime(std::max(span.second, span.first + 1));
      (fast ? FastTopPts : TravelTopPts)
          .append({QPointF(x0, -BandHeight), QPointF(x0, BandHeight), QPointF(x1, BandHeight),
                   QPointF(x1, -BandHeight)});
      (fast ? FastBottomPts : TravelBottomPts)
          .append({QPointF(x0, -BandHeight), QPointF(x0, -BandHeight), QPointF(x1, -BandHeight),
                   QPointF(x1, -BandHeight)});
    }
  }
  SeeZ(r.Top);
  SeeZ(r.Bottom);
  for (const TPoint &p : Nominal(r)) RecipePts.append(QPointF(AxisTime(p.Ms), p.Z));
  for (const TPoint &p : Observed(r))
    if (std::isfinite(p.Z)) {
      SeeZ(p.Z);
      Append(SeenPts, AxisTime(p.Ms), p.Z);
    }
  if (Failed(r)) {
    const int64_t t = LastSeen(r);
    double z = r.Bottom;
    if (!r.ZReads.empty()) z = r.ZReads.back().second;
    if (t >= 0 && std::isfinite(z)) FaultPts.append(QPointF(AxisTime(double(t)), z));
  }
}

void TRunChart::Update(const std::vector<TRecordRow> &rows, const std::vector<TReading> *live) {
  if (Shown != &rows || rows.size() < RowsShown) {
    Clear();
    Shown = &rows;
  }
  for (; RowsShown < rows.size(); ++RowsShown) Add(rows[RowsShown]);
  // The dip in progress: its reads so far; a finished dip moved to its row.
  if (!live || live->size() < LiveShown) {
    LivePts.clear();
    LiveShown = 0;
  }
  if (live)
    for (; LiveShown < live->size(); ++LiveShown) {
      const TReading &z = (*live)[LiveShown];
      T1 = std::max(T1, double(z.first));
      SeeZ(z.second);
      Append(LivePts, AxisTime(double(z.first)), z.second);
    }
  // Each series takes its points at once: one redraw, not one a point.
  for (auto &[series, pts] : Lists())
    if (series->count() != pts->size() || (pts->size() && series->at(series->count() - 1) != pts->back()))
      series->replace(*pts);
}

std::vector<std::pair<QXYSeries *, QList<QPointF> *>> TRunChart::Lists() {
  return {{Recipe, &RecipePts},
          {Seen, &SeenPts},
          {Live, &LivePts},
          {TravelTop, &TravelTopPts},
          {TravelBottom, &TravelBottomPts},
          {FastTop, &FastTopPts},
          {FastBottom, &FastBottomPts},
          {Faults, &FaultPts}};
}

void TRunChart::Fit() {
  Time->setRange(QDateTime::fromMSecsSinceEpoch(qint64(AxisTime(0))),
                 QDateTime::fromMSecsSinceEpoch(qint64(AxisTime(T1 * 1.02))));
  Z->setRange(Z0, Z1 + (Z1 - Z0) * 0.05);
  Z->applyNiceNumbers();
}

int TRunChart::Points() const {
  return Recipe->count() + Seen->count() + Live->count() + TravelTop->count() + FastTop->count() +
         Faults->count();
}

// --- dips overlaid ----------------------------------------------------------

// A per-process chart emptied for a new fill, titled for `process`.
static void ClearChart(QChart *chart, const QString &process, const char *title) {
  chart->removeAllSeries();
  for (QAbstractAxis *a : chart->axes()) {
    chart->removeAxis(a);
    delete a;
  }
  PlainLook(chart);
  chart->setTitle(process.isEmpty() ? QString("No dips recorded") : QString(title).arg(process));
}

void FillOverlayChart(QChart *chart, const std::vector<TRecordRow> &rows, const QString &process,
                      const std::function<void(const QString &)> &hover) {
  ClearChart(chart, process, "%1: every dip from its down command");
  auto *t = ValueAxis("time since the down command [s]", "%.1f");
  auto *z = ValueAxis("Z [cm], down", "%.1f");
  z->setReverse(true);
  chart->addAxis(t, Qt::AlignBottom);
  chart->addAxis(z, Qt::AlignLeft);
  double t1 = 1, z0 = 1e9, z1 = -1e9;
  const std::vector<const TRecordRow *> dips = DipsOf(rows, process);
  bool first = true, firstFault = true;
  for (size_t i = 0; i < dips.size(); ++i) {
    const TRecordRow &r = *dips[i];
    if (r.DownAt < 0) continue;
    const bool fault = Failed(r);
    auto *s = new QLineSeries;
    QColor c = fault ? FaultColor : SeenColor;
    c.setAlpha(fault ? 255 : 110);
    s->setPen(QPen(c, fault ? 2 : 1.2));
    s->setName(fault ? "not done" : QString("dips (%1)").arg(dips.size()));
    for (const TPoint &p : Observed(r)) {
      if (!std::isfinite(p.Z)) continue;
      s->append((p.Ms - r.DownAt) / 1000, p.Z);
      t1 = std::max(t1, (p.Ms - r.DownAt) / 1000);
      z0 = std::min(z0, p.Z);
      z1 = std::max(z1, p.Z);
    }
    chart->addSeries(s);
    s->attachAxis(t);
    s->attachAxis(z);
    if (!(fault ? firstFault : first)) HideMarker(chart, s);
    (fault ? firstFault : first) = false;
    const int k = int(i) + 1;
    const QString what = QString("%1 dip %2 in this run (dip %3 of %4, %5)")
                             .arg(process)
                             .arg(k)
                             .arg(r.Dip)
                             .arg(r.Dips)
                             .arg(QString::fromStdString(r.End));
    QObject::connect(s, &QLineSeries::hovered, s, [hover, what](const QPointF &p, bool on) {
      if (on && hover)
        hover(QString("%1: %2 s after the down command, Z %3 cm")
                  .arg(what)
                  .arg(p.x(), 0, 'f', 2)
                  .arg(p.y(), 0, 'f', 2));
    });
  }
  if (!dips.empty()) {
    auto *recipe = new QLineSeries;
    recipe->setName("recipe");
    recipe->setPen(QPen(Qt::black, 2, Qt::DashLine));
    for (const TPoint &p : Nominal(*dips.front(), 0)) {
      recipe->append(p.Ms / 1000, p.Z);
      t1 = std::max(t1, p.Ms / 1000);
      z0 = std::min(z0, p.Z);
      z1 = std::max(z1, p.Z);
    }
    chart->addSeries(recipe);
    recipe->attachAxis(t);
    recipe->attachAxis(z);
  }
  if (z0 > z1) z0 = 0, z1 = 1;
  const double pad = std::max(0.1, (z1 - z0) * 0.05);
  t->setRange(0, t1 * 1.02);
  z->setRange(z0 - pad, z1 + pad);
  t->applyNiceNumbers();
  z->applyNiceNumbers();
}

// --- holds and withdrawal ----------------------------------------------------

void FillHoldsChart(QChart *chart, const std::vector<TRecordRow> &rows, const QString &process,
                    const std::function<void(const QString &)> &hover) {
  ClearChart(chart, process, "%1: holds and withdrawal speed per dip");
  auto *n = ValueAxis("dip of the process in this run", "%d");
  auto *held = ValueAxis("held [s]", "%.2f");
  auto *speed = ValueAxis("withdrawal [cm/s]", "%.3f");
  chart->addAxis(n, Qt::AlignBottom);
  chart->addAxis(held, Qt::AlignLeft);
  chart->addAxis(speed, Qt::AlignRight);
  struct TCurve {
    const char *Name;
    QColor Color;
    bool Recipe;
    QValueAxis *Axis;
    std::function<double(const TRecordRow &)> Value;
  };
  const TCurve curves[] = {
      {"held at the bottom", SeenColor, false, held,
       [](const TRecordRow &r) { return r.HeldBottom < 0 ? NAN : r.HeldBottom / 1000.0; }},
      {"bottom wait (recipe)", SeenColor, true, held, [](const TRecordRow &r) { return r.InTime; }},
      {"held at the top", TopColor, false, held,
       [](const TRecordRow &r) { return r.HeldTop < 0 ? NAN : r.HeldTop / 1000.0; }},
      {"top wait (recipe)", TopColor, true, held, [](const TRecordRow &r) { return r.OutTime; }},
      {"withdrawal", LiveColor, false, speed, [](const TRecordRow &r) { return r.Withdrawal; }},
      {"up speed (recipe)", LiveColor, true, speed, [](const TRecordRow &r) { return r.OutSpeed; }},
  };
  const std::vector<const TRecordRow *> dips = DipsOf(rows, process);
  std::map<QValueAxis *, std::pair<double, double>> range;
  for (const TCurve &c : curves) {
    auto *s = new QLineSeries;
    s->setName(c.Name);
    s->setPen(QPen(c.Color, c.Recipe ? 1.5 : 2, c.Recipe ? Qt::DashLine : Qt::SolidLine));
    s->setPointsVisible(!c.Recipe && dips.size() <= 200);
    for (size_t i = 0; i < dips.size(); ++i) {
      const double v = c.Value(*dips[i]);
      if (!std::isfinite(v)) continue;
      s->append(double(i + 1), v);
      auto &rg = range.try_emplace(c.Axis, v, v).first->second;
      rg.first = std::min(rg.first, v);
      rg.second = std::max(rg.second, v);
    }
    chart->addSeries(s);
    s->attachAxis(n);
    s->attachAxis(c.Axis);
    const QString name = c.Name;
    QObject::connect(s, &QLineSeries::hovered, s, [hover, name, process](const QPointF &p, bool on) {
      if (on && hover)
        hover(
            QString("%1 dip %2: %3 %4").arg(process).arg(std::lround(p.x())).arg(name).arg(p.y(), 0, 'f', 3));
    });
  }
  n->setRange(0.5, std::max<double>(1.5, double(dips.size()) + 0.5));
  n->setTickType(QValueAxis::TicksDynamic);
  n->setTickAnchor(1);
  n->setTickInterval(std::max(1.0, std::ceil(double(dips.size()) / 20)));
  for (QValueAxis *a : {held, speed}) {
    auto it = range.find(a);
    const double lo = it == range.end() ? 0 : it->second.first,
                 hi = it == range.end() ? 1 : it->second.second;
    const double pad = std::max((hi - lo) * 0.1, std::max(std::fabs(hi) * 0.05, 0.01));
    a->setRange(std::max(0.0, lo - pad), hi + pad);
    a->applyNiceNumbers();
  }
}

// --- zoom and pan ------------------------------------------------------------

TZoomView::TZoomView(QChart *chart, QWidget *parent) : QChartView(chart, parent) {
  setRenderHint(QPainter::Antialiasing);
  setRubberBand(QChartView::RectangleRubberBand);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

void TZoomView::Whole() {
  chart()->zoomReset();
  UserZoomed = false;
  emit WholeAsked();
}

void TZoomView::ZoomBy(double factor, QPointF at) {
  const QRectF area = chart()->plotArea();
  const QPointF c = chart()->mapFromScene(mapToScene(at.toPoint()));
  const bool both = QGuiApplication::keyboardModifiers() & Qt::ControlModifier;
  QRectF r(c.x() - (c.x() - area.left()) * factor, area.top(), area.width() * factor, area.height());
  if (both) {
    r.setTop(c.y() - (c.y() - area.top()) * factor);
    r.setHeight(area.height() * factor);
  }
  chart()->zoomIn(r);
  UserZoomed = true;
}

void TZoomView::Pan(double dx, double dy) {
  chart()->scroll(dx, dy);
  UserZoomed = true;
}

void TZoomView::wheelEvent(QWheelEvent *event) {
  const int d = event->angleDelta().y();
  if (d == 0) return;
  ZoomBy(d > 0 ? 0.8 : 1.25, event->position());
  event->accept();
}

void TZoomView::mousePressEvent(QMouseEvent *event) {
  if (event->button() == Qt::MiddleButton ||
      (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier))) {
    Panning = true;
    Last = event->position().toPoint();
    setCursor(Qt::ClosedHandCursor);
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void TZoomView::mouseMoveEvent(QMouseEvent *event) {
  const QPoint p = event->position().toPoint();
  if (Panning) {
    Pan(Last.x() - p.x(), p.y() - Last.y());
    Last = p;
    event->accept();
    return;
  }
  QChartView::mouseMoveEvent(event);
  if (!chart()->series().isEmpty())
    emit Hover(chart()->mapToValue(chart()->mapFromScene(mapToScene(p))), event->globalPosition().toPoint());
}

void TZoomView::mouseReleaseEvent(QMouseEvent *event) {
  if (Panning) {
    Panning = false;
    unsetCursor();
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);  // a box drawn zooms in, the right button out
  if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
    UserZoomed = chart()->isZoomed();
}

void TZoomView::mouseDoubleClickEvent(QMouseEvent *event) {
  Whole();
  event->accept();
}

void TZoomView::keyPressEvent(QKeyEvent *event) {
  const double step = 40;
  switch (event->key()) {
    case Qt::Key_Home: Whole(); break;
    case Qt::Key_Plus: ZoomBy(0.8, rect().center()); break;
    case Qt::Key_Minus: ZoomBy(1.25, rect().center()); break;
    case Qt::Key_Left: Pan(-step, 0); break;
    case Qt::Key_Right: Pan(step, 0); break;
    case Qt::Key_Up: Pan(0, step); break;
    case Qt::Key_Down: Pan(0, -step); break;
    default: QChartView::keyPressEvent(event); return;
  }
  event->accept();
}

void TZoomView::leaveEvent(QEvent *event) {
  QChartView::leaveEvent(event);
  emit Left();
}
