// The charts of the "Run record" window.
#include "app/RunRecordPlot.h"

#include <QAreaSeries>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGuiApplication>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

namespace {
const QColor RecipeColor(120, 190, 255);
const QColor SeenColor(0, 50, 150);
const QColor LiveColor(230, 110, 0);
const QColor TravelColor(222, 222, 222);
const QColor FastColor(255, 238, 190);
const QColor FaultColor(200, 0, 0);
const QColor TopColor(0, 140, 70);
// A second run "as comparison": violet beside this run's blue.
const QColor CompareColor(150, 30, 190);

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
  const std::string name = process.toStdString();  // once, not per row: a live tick's cost
  for (const TRecordRow &r : rows)
    if (IsDip(r) && r.Process == name) dips.push_back(&r);
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

// --- thinned lines and bands -----------------------------------------------

void TThinLine::Append(double x, double y) {
  const size_t n = All.size();
  if (n >= 2 && All[n - 1].y() == y && All[n - 2].y() == y) All[n - 1] = QPointF(x, y);
  else All.emplace_back(x, y);
}

void TThinLine::Clear() {
  All.clear();
  Thin.clear();
  Open = Drawn = 0;
  ThinOpen = 0;
  Columns = 0;
  Series->clear();
}

void TThinLine::Draw(double x0, double x1, int columns) {
  const bool again = x0 != X0 || x1 != X1 || columns != Columns || All.size() < Drawn;
  if (!again && All.size() == Drawn && Drawn > 0) {
    // The last point may have been moved (a hold grows): redraw its column.
    if (Thin.isEmpty() || Thin.back() == All.back()) return;
  }
  // A range grown at its end (the run outgrew it): each new, wider column
  // holds whole old ones, so the old columns' points stand for theirs
  // (within a pixel) and only the open column's points are taken again.
  const bool grown = again && Drawn > 0 && x0 == X0 && x1 > X1 && columns == Columns && All.size() >= Drawn;
  std::deque<QPointF> again_from;
  size_t from = Open;
  if (grown) {
    again_from.assign(Thin.begin(), Thin.begin() + ThinOpen);
    again_from.insert(again_from.end(), All.begin() + long(Open), All.end());
    from = 0;
  }
  if (again) {
    X0 = x0, X1 = x1, Columns = columns;
    Thin.clear();
    // One point before the range, so the line enters from its edge.
    if (!grown) {
      from = size_t(std::lower_bound(All.begin(), All.end(), x0,
                                     [](const QPointF &p, double x) { return p.x() < x; }) -
                    All.begin());
      if (from > 0) --from;
    }
  } else {
    Thin.resize(ThinOpen);
  }
  const std::deque<QPointF> &src = grown ? again_from : All;
  const double per = columns / std::max(1e-9, x1 - x0);
  auto column = [&](double x) { return x < x0 ? -1L : x > x1 ? long(columns) + 1 : long((x - x0) * per); };
  size_t i = from;
  while (i < src.size()) {
    const long c = column(src[i].x());
    // A column's points: first, lowest, highest and last, in their order.
    size_t lo = i, hi = i, last = i;
    size_t j = i + 1;
    for (; j < src.size() && column(src[j].x()) == c; ++j) {
      if (src[j].y() < src[lo].y()) lo = j;
      if (src[j].y() > src[hi].y()) hi = j;
      last = j;
    }
    Open = i;
    ThinOpen = Thin.size();
    size_t keep[4] = {i, std::min(lo, hi), std::max(lo, hi), last};
    if (c < 0) keep[0] = keep[1] = keep[2] = last;
    for (int k = 0; k < 4; ++k)
      if (k == 0 || keep[k] != keep[k - 1]) Thin.append(src[keep[k]]);
    i = j;
    if (c > columns) break;  // the first point after the range ends the line
  }
  // The open column is taken from the whole line next time.
  if (grown && Open < src.size())
    Open = size_t(std::lower_bound(All.begin(), All.end(), src[Open].x(),
                                   [](const QPointF &p, double x) { return p.x() < x; }) -
                  All.begin());
  Drawn = All.size();
  Series->replace(Thin);
}

TBands::TBands(QChart *chart, const char *name, const QColor &color) : Color(color) {
  // An empty area series for the legend's entry; the bands themselves are
  // the plot area's background.
  Top = new QLineSeries;
  Bottom = new QLineSeries;
  Area = new QAreaSeries(Top, Bottom);
  Area->setName(name);
  Area->setBrush(color);
  Area->setPen(Qt::NoPen);
  chart->addSeries(Area);
}

void TBands::Clear() {
  All.clear();
  Changed = true;
}

void TBands::Paint(QImage &row, double x0, double x1) const {
  // A band narrower than a pixel still gets one.
  const double per = row.width() / std::max(1e-9, x1 - x0);
  auto *line = reinterpret_cast<QRgb *>(row.scanLine(0));
  for (const auto &band : All) {
    if (band.second < x0 || band.first > x1) continue;
    const int a = std::max(0, int((band.first - x0) * per)), b = std::min(row.width() - 1, int((band.second - x0) * per));
    for (int i = a; i <= std::max(a, b); ++i) line[i] = Color.rgb();
  }
}

// --- run chart ------------------------------------------------------------

TRunChart::TRunChart(QChart *chart) : Chart(chart), Guard(new QObject) {
  PlainLook(chart);
  Travel = new TBands(chart, "travel", TravelColor);
  Fast = new TBands(chart, "fast dips", FastColor);
  // The recipe first and thin, so the dips are drawn over it. Solid: Qt
  // strokes a dashed line ten times slower.
  Recipe = new TThinLine(Line(chart, "(recipe)", QPen(RecipeColor, 1)));
  // One pixel wide: a thinned line turns at every column, and Qt strokes
  // wider lines' turns many times slower.
  Seen = new TThinLine(Line(chart, "observed", QPen(SeenColor, 1)));
  Live = new TThinLine(Line(chart, "dip in progress", QPen(LiveColor, 2)));
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
  // Finer labels once zoomed into seconds; the lines thinned for the new range.
  QObject::connect(Time, &QDateTimeAxis::rangeChanged, Guard, [this](const QDateTime &a, const QDateTime &b) {
    Time->setFormat(a.msecsTo(b) < 60000 ? "h:mm:ss.zzz" : "h:mm:ss");
    Draw();
  });
  QObject::connect(Z, &QValueAxis::rangeChanged, Guard, [this] { Draw(); });
  QObject::connect(chart, &QChart::plotAreaChanged, Guard, [this] { Draw(); });
  Fit();
}

TRunChart::~TRunChart() {
  delete Guard;
  delete Recipe;
  delete Seen;
  delete Live;
  delete Travel;
  delete Fast;
}

void TRunChart::Clear() {
  for (TThinLine *l : {Recipe, Seen, Live}) l->Clear();
  Travel->Clear();
  Fast->Clear();
  FaultPts.clear();
  Faults->clear();
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
  if ((r.Mode == RecordTravel || r.Mode == RecordFast) && span.first >= 0) {
    TBands *b = r.Mode == RecordFast ? Fast : Travel;
    b->All.emplace_back(AxisTime(span.first), AxisTime(std::max(span.second, span.first + 1)));
    b->Changed = true;
  }
  SeeZ(r.Top);
  SeeZ(r.Bottom);
  for (const TPoint &p : Nominal(r)) Recipe->All.emplace_back(AxisTime(p.Ms), p.Z);
  for (const TPoint &p : Observed(r))
    if (std::isfinite(p.Z)) {
      SeeZ(p.Z);
      Seen->Append(AxisTime(p.Ms), p.Z);
    }
  if (Failed(r)) {
    const int64_t t = LastSeen(r);
    double z = r.Bottom;
    if (!r.ZReads.empty()) z = r.ZReads.back().second;
    if (t >= 0 && std::isfinite(z)) FaultPts.emplace_back(AxisTime(double(t)), z);
  }
}

void TRunChart::SetLive(const std::vector<TReading> *live) {
  // The dip in progress: its reads so far; a finished dip moved to its row.
  if (!live || live->size() < LiveShown) {
    Live->Clear();
    LiveShown = 0;
  }
  if (live)
    for (; LiveShown < live->size(); ++LiveShown) {
      const TReading &z = (*live)[LiveShown];
      T1 = std::max(T1, double(z.first));
      SeeZ(z.second);
      Live->Append(AxisTime(double(z.first)), z.second);
    }
}

void TRunChart::Update(const std::vector<TRecordRow> &rows, const std::vector<TReading> *live) {
  if (Shown != &rows || rows.size() < RowsShown) {
    Clear();
    Shown = &rows;
  }
  for (; RowsShown < rows.size(); ++RowsShown) Add(rows[RowsShown]);
  SetLive(live);
  Draw();
}

void TRunChart::Draw() {
  if (Drawing) return;  // a range set while drawing
  Drawing = true;
  const double x0 = double(Time->min().toMSecsSinceEpoch()), x1 = double(Time->max().toMSecsSinceEpoch());
  const int columns = std::max(100, int(Chart->plotArea().width()));
  for (TThinLine *l : {Recipe, Seen, Live}) l->Draw(x0, x1, columns);
  // The bands as the plot area's background, a pixel row stretched to its
  // height: Qt fills hundreds of tall thin polygons a hundred times slower.
  const QRectF area = Chart->plotArea();
  if (area.width() >= 1) {
    QImage row(int(area.width()), 1, QImage::Format_RGB32);
    row.fill(Qt::white);
    for (TBands *b : {Travel, Fast}) b->Paint(row, x0, x1);
    QBrush brush(row);
    brush.setTransform(QTransform::fromTranslate(area.left(), area.top()));
    Chart->setPlotAreaBackgroundBrush(brush);
    Chart->setPlotAreaBackgroundPen(Qt::NoPen);
    Chart->setPlotAreaBackgroundVisible(true);
  }
  if (Faults->count() != qsizetype(FaultPts.size()))
    Faults->replace(QList<QPointF>(FaultPts.begin(), FaultPts.end()));
  // No legend entry for what the run does not have.
  for (QAbstractSeries *s : {static_cast<QAbstractSeries *>(Faults), static_cast<QAbstractSeries *>(Live->Series)})
    for (QLegendMarker *m : Chart->legend()->markers(s)) m->setVisible(qobject_cast<QXYSeries *>(s)->count() > 0);
  for (TBands *b : {Travel, Fast})
    for (QLegendMarker *m : Chart->legend()->markers(b->Area)) m->setVisible(!b->All.empty());
  Drawing = false;
}

void TRunChart::CopyFrom(const TRunChart &o) {
  Clear();
  Recipe->All = o.Recipe->All;
  Seen->All = o.Seen->All;
  Live->All = o.Live->All;
  Travel->All = o.Travel->All;
  Fast->All = o.Fast->All;
  FaultPts = o.FaultPts;
  T1 = o.T1, Z0 = o.Z0, Z1 = o.Z1;
}

namespace {
// The run's length rounded up to eight round steps: the ticks fall on
// round times, and the range holds until the run outgrows it.
// Round steps of the time axis, ms; eight make a range.
const double Steps[] = {10,   20,   50,   100,  200,  500,   1e3,   2e3,   5e3,   1e4,   15e3,  3e4,   6e4,  12e4,
                        18e4, 3e5,  6e5,  9e5,  12e5, 18e5,  36e5,  72e5,  108e5, 144e5, 216e5, 432e5, 864e5};
constexpr int StepCount = int(sizeof Steps / sizeof Steps[0]);
// The smallest step of which eight span `ms` (the largest beyond).
int RoundIndex(double ms) {
  for (int i = 0; i < StepCount; ++i)
    if (8 * Steps[i] >= ms) return i;
  return StepCount - 1;
}
double RoundStep(double ms) {
  return ms <= 8 * Steps[StepCount - 1] ? Steps[RoundIndex(ms)] : 864e5 * std::ceil(ms / (8 * 864e5));
}
double RoundEnd(double ms) { return 8 * RoundStep(std::max(ms, 8e3)); }
}  // namespace

void TRunChart::Fit() {
  const double end = RoundEnd(T1 * 1.02);
  Rounded = end;
  const QDateTime a = QDateTime::fromMSecsSinceEpoch(qint64(AxisTime(0))),
                  b = QDateTime::fromMSecsSinceEpoch(qint64(AxisTime(end)));
  if (Time->min() != a || Time->max() != b) Time->setRange(a, b);
  const double z0 = Z0, z1 = Z1 + (Z1 - Z0) * 0.05;
  if (!(Z->min() <= z0 && Z->max() >= z1 && Z->max() - Z->min() <= 2 * (z1 - z0))) {
    Z->setRange(z0, z1);
    Z->applyNiceNumbers();
  }
  Draw();
}

void TRunChart::RoundTime() {
  const double a = RecordMs(double(Time->min().toMSecsSinceEpoch())),
               b = RecordMs(double(Time->max().toMSecsSinceEpoch()));
  int i = RoundIndex(b - a);
  // A zoom always changes the step: rounding must not undo it.
  if (b - a < Rounded && 8 * Steps[i] >= Rounded && i > 0) --i;
  if (b - a > Rounded && 8 * Steps[i] <= Rounded && i + 1 < StepCount) ++i;
  const double step = Steps[i], start = std::round(a / step) * step;
  Rounded = 8 * step;
  const QDateTime from = QDateTime::fromMSecsSinceEpoch(qint64(AxisTime(start))),
                  to = QDateTime::fromMSecsSinceEpoch(qint64(AxisTime(start + 8 * step)));
  if (Time->min() != from || Time->max() != to) Time->setRange(from, to);
}

void TRunChart::StepTime(int steps) {
  RoundTime();
  const qint64 by = qint64(steps * Rounded / 8);
  Time->setRange(Time->min().addMSecs(by), Time->max().addMSecs(by));
}

bool TRunChart::Nearest(double x, double slack, QPointF &reading) const {
  double best = slack;
  bool found = false;
  for (const TThinLine *line : {Seen, Live}) {
    const auto &all = line->All;
    auto it = std::lower_bound(all.begin(), all.end(), x, [](const QPointF &p, double v) { return p.x() < v; });
    for (auto c : {it, it == all.begin() ? it : std::prev(it)})
      if (c != all.end() && std::abs(c->x() - x) <= best) best = std::abs(c->x() - x), reading = *c, found = true;
  }
  return found;
}

int TRunChart::Points() const {
  return Recipe->Shown() + Seen->Shown() + Live->Shown() + int(Faults->count());
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

void TDipBundle::Add(const TRecordRow &r) {
  if (!IsDip(r) || r.DownAt < 0) return;
  ++Count;
  std::vector<QPointF> pts;
  for (const TPoint &p : Observed(r))
    if (std::isfinite(p.Z)) pts.emplace_back((p.Ms - double(r.DownAt)) / 1000, p.Z);
  if (Recipe.empty())
    for (const TPoint &p : Nominal(r, 0)) Recipe.emplace_back(p.Ms / 1000, p.Z);
  for (const QPointF &p : Recipe) T1 = std::max(T1, p.x()), Z0 = std::min(Z0, p.y()), Z1 = std::max(Z1, p.y());
  for (const QPointF &p : pts) T1 = std::max(T1, p.x()), Z0 = std::min(Z0, p.y()), Z1 = std::max(Z1, p.y());
  const QString what = QString("dip %1 in this run (dip %2 of %3, %4)")
                           .arg(Count)
                           .arg(r.Dip)
                           .arg(r.Dips)
                           .arg(QString::fromStdString(r.End));
  if (Failed(r)) {
    if (NotDone.size() < 20) NotDone.emplace_back(what, std::move(pts));
    return;
  }
  ++Done;
  if (SlotMs <= 0) SlotMs = std::max(0.01, T1 / 1000);  // s
  // Each segment widens the count it crosses by its Z there.
  auto see = [&](size_t slot, double z) {
    if (slot >= Lo.size()) {
      Lo.resize(slot + 1, 1e30f), Hi.resize(slot + 1, -1e30f);
      LoDip.resize(slot + 1, 0), HiDip.resize(slot + 1, 0);
    }
    if (z < Lo[slot]) Lo[slot] = float(z), LoDip[slot] = Count;
    if (z > Hi[slot]) Hi[slot] = float(z), HiDip[slot] = Count;
  };
  for (size_t i = 0; i < pts.size(); ++i) {
    const QPointF a = pts[i], b = i + 1 < pts.size() ? pts[i + 1] : pts[i];
    const size_t s0 = size_t(std::max(0.0, a.x()) / SlotMs), s1 = size_t(std::max(0.0, b.x()) / SlotMs);
    for (size_t s = s0; s <= s1 && s < s0 + 100000; ++s) {
      auto at = [&](double t) {
        t = std::clamp(t, a.x(), b.x());
        return b.x() > a.x() ? a.y() + (b.y() - a.y()) * (t - a.x()) / (b.x() - a.x()) : b.y();
      };
      see(s, at(double(s) * SlotMs));
      see(s, at(double(s + 1) * SlotMs));
    }
  }
  Latest = std::move(pts);
  LatestWhat = what;
}

std::map<QString, TDipBundle> BundleDips(const std::vector<TRecordRow> &rows) {
  std::map<QString, TDipBundle> bundles;
  for (const TRecordRow &r : rows)
    if (IsDip(r)) bundles[QString::fromStdString(r.Process)].Add(r);
  return bundles;
}

void FillOverlayChart(QChart *chart, const TDipBundle *bundle, const QString &process,
                      const std::function<void(const QString &)> &hover, const TDipBundle *comparison) {
  ClearChart(chart, process, "%1: every dip from its down command");
  auto *t = ValueAxis("time since the down command [s]", "%.1f");
  auto *z = ValueAxis("Z [cm], down", "%.1f");
  z->setReverse(true);
  chart->addAxis(t, Qt::AlignBottom);
  chart->addAxis(z, Qt::AlignLeft);
  auto add = [&](QAbstractSeries *s) {
    chart->addSeries(s);
    s->attachAxis(t);
    s->attachAxis(z);
  };
  auto say = [hover](const QString &text) {
    if (hover) hover(text);
  };
  static const TDipBundle none;
  const TDipBundle &b = bundle ? *bundle : none;
  auto line = [&](const std::vector<QPointF> &pts, const QString &title, const QPen &pen, const QString &name,
                  const QString &what) {
    auto *s = Line(chart, title, pen);
    s->replace(QList<QPointF>(pts.begin(), pts.end()));
    s->attachAxis(t);
    s->attachAxis(z);
    QObject::connect(s, &QLineSeries::hovered, s, [say, name, what](const QPointF &p, bool on) {
      if (on)
        say(QString("%1 %2: %3 s after the down command, Z %4 cm")
                .arg(name, what)
                .arg(p.x(), 0, 'f', 2)
                .arg(p.y(), 0, 'f', 2));
    });
    return s;
  };
  // One run's dips: their range, the latest, those not done; `tag` ends the
  // names of the comparison's, whose texts say whose dip it was.
  auto dips = [&](const TDipBundle &d, const QString &tag, const QColor &color, Qt::PenStyle failed) {
    const QString name = process + tag;
    auto whose = [&](QString what) {
      return tag.isEmpty() ? what : what.replace("in this run", "in its run");
    };
    if (d.Done > 0) {
      // The bundle's range per pixel column: one area, however many dips.
      const size_t count = d.Lo.size(), per = std::max<size_t>(1, count / 1000);
      QList<QPointF> hi, lo;
      for (size_t s = 0; s < count; s += per) {
        float l = 1e30f, h = -1e30f;
        for (size_t k = s; k < std::min(count, s + per); ++k)
          l = std::min(l, d.Lo[k]), h = std::max(h, d.Hi[k]);
        if (h < l) continue;
        const double x = (double(s) + per / 2.0) * d.SlotMs;
        lo.append(QPointF(x, l));
        hi.append(QPointF(x, h));
      }
      auto *upper = new QLineSeries, *lower = new QLineSeries;
      upper->replace(hi);
      lower->replace(lo);
      auto *area = new QAreaSeries(upper, lower);
      QColor c = color;
      c.setAlpha(70);
      area->setName(QString("range of %1 dips").arg(d.Done) + tag);
      area->setBrush(c);
      area->setPen(QPen(color, 1));
      add(area);
      const std::shared_ptr<TDipBundle> copy = std::make_shared<TDipBundle>(d);  // outlives a refill
      QObject::connect(area, &QAreaSeries::hovered, area, [say, name, copy](const QPointF &p, bool on) {
        const size_t s = size_t(std::max(0.0, p.x()) / copy->SlotMs);
        if (!on || s >= copy->Lo.size()) return;
        say(QString("%1 at %2 s after the down command: Z from %3 cm (dip %4) to %5 cm (dip %6) over %7 dips")
                .arg(name)
                .arg(p.x(), 0, 'f', 2)
                .arg(copy->Lo[s], 0, 'f', 2)
                .arg(copy->LoDip[s])
                .arg(copy->Hi[s], 0, 'f', 2)
                .arg(copy->HiDip[s])
                .arg(copy->Done));
      });
      QColor latest = color;
      latest.setAlpha(200);
      line(d.Latest, "latest dip" + tag, QPen(latest, 1.5), name, whose(d.LatestWhat));
    }
    bool first = true;
    for (const auto &[what, pts] : d.NotDone) {
      auto *s = line(pts, "not done" + tag, QPen(FaultColor, 2, failed), name, whose(what));
      if (!first) HideMarker(chart, s);
      first = first && pts.empty();  // one entry, on a curve that is drawn
    }
  };
  const TDipBundle &c = comparison ? *comparison : none;
  if (!b.Recipe.empty()) line(b.Recipe, "(recipe)", QPen(Qt::black, 1, Qt::DashLine), process, "recipe");
  // The comparison's recipe only where it asked otherwise.
  if (!c.Recipe.empty() && c.Recipe != b.Recipe)
    line(c.Recipe, QString("(recipe)") + ComparisonTag, QPen(CompareColor, 1, Qt::DashLine),
         process + ComparisonTag, "recipe");
  dips(b, QString(), SeenColor, Qt::SolidLine);
  dips(c, ComparisonTag, CompareColor, Qt::DashLine);
  // No legend entry for a series without points (a dip with no Z seen).
  for (QAbstractSeries *s : chart->series())
    if (auto *xy = qobject_cast<QXYSeries *>(s); xy && xy->count() == 0) HideMarker(chart, s);
  double z0 = std::min(b.Z0, c.Z0), z1 = std::max(b.Z1, c.Z1);
  if (z0 > z1) z0 = 0, z1 = 1;
  const double pad = std::max(0.1, (z1 - z0) * 0.05);
  t->setRange(0, std::max(b.T1, c.T1) * 1.02);
  z->setRange(z0 - pad, z1 + pad);
  t->applyNiceNumbers();
  z->applyNiceNumbers();
}

// --- holds and withdrawal ----------------------------------------------------

void FillHoldsChart(QChart *chart, const std::vector<TRecordRow> &rows, const QString &process,
                    const std::function<void(const QString &)> &hover,
                    const std::vector<TRecordRow> *comparison) {
  ClearChart(chart, process, "%1: holds and withdrawal speed per dip");
  const std::vector<const TRecordRow *> dips = DipsOf(rows, process);
  // The comparison's dips of the process; none: nothing of it is drawn.
  const std::vector<const TRecordRow *> others =
      comparison ? DipsOf(*comparison, process) : std::vector<const TRecordRow *>{};
  const bool compared = !others.empty();
  auto *n = ValueAxis(compared ? "dip of the process in its run" : "dip of the process in this run", "%d");
  auto *held = ValueAxis("held [s]", "%.2f");
  auto *speed = ValueAxis("withdrawal [cm/s]", "%.3f");
  chart->addAxis(n, Qt::AlignBottom);
  chart->addAxis(held, Qt::AlignLeft);
  chart->addAxis(speed, Qt::AlignRight);
  struct TCurve {
    const char *Name;
    QColor Color, Compared;  // this run's, the comparison's
    bool Recipe;
    QValueAxis *Axis;
    std::function<double(const TRecordRow &)> Value;
  };
  const TCurve curves[] = {
      {"held at the bottom", SeenColor, CompareColor, false, held,
       [](const TRecordRow &r) { return r.HeldBottom < 0 ? NAN : r.HeldBottom / 1000.0; }},
      {"bottom wait (recipe)", SeenColor, {}, true, held, [](const TRecordRow &r) { return r.InTime; }},
      {"held at the top", TopColor, QColor(215, 60, 160), false, held,
       [](const TRecordRow &r) { return r.HeldTop < 0 ? NAN : r.HeldTop / 1000.0; }},
      {"top wait (recipe)", TopColor, {}, true, held, [](const TRecordRow &r) { return r.OutTime; }},
      {"withdrawal", LiveColor, QColor(95, 20, 100), false, speed,
       [](const TRecordRow &r) { return r.Withdrawal; }},
      {"up speed (recipe)", LiveColor, {}, true, speed, [](const TRecordRow &r) { return r.OutSpeed; }},
  };
  std::map<QValueAxis *, std::pair<double, double>> range;
  // The points go in after the axes' ranges: every series attached or range
  // set re-lays out all points already in the chart (a live tick's cost).
  std::vector<std::pair<std::unique_ptr<TThinLine>, size_t>> lines;  // each with its dips' count
  std::vector<std::pair<QXYSeries *, QList<QPointF>>> marks;
  auto curve = [&](const TCurve &c, const std::vector<const TRecordRow *> &of, const QString &tag,
                   const QPen &pen) {
    auto *s = new QLineSeries;
    s->setName(c.Name + tag);
    s->setPen(pen);
    s->setPointsVisible(!c.Recipe && of.size() <= 200);
    chart->addSeries(s);
    s->attachAxis(n);
    s->attachAxis(c.Axis);
    auto thin = std::make_unique<TThinLine>(s);  // a point per dip, thinned to the pixels
    for (size_t i = 0; i < of.size(); ++i) {
      const double v = c.Value(*of[i]);
      if (!std::isfinite(v)) continue;
      if (c.Recipe) thin->Append(double(i + 1), v);  // the recipe's runs of one value: their ends
      else thin->All.emplace_back(double(i + 1), v);
      auto &rg = range.try_emplace(c.Axis, v, v).first->second;
      rg.first = std::min(rg.first, v);
      rg.second = std::max(rg.second, v);
    }
    if (thin->All.empty()) HideMarker(chart, s);
    lines.emplace_back(std::move(thin), of.size());
    const QString name = c.Name, whose = process + tag;
    QObject::connect(s, &QLineSeries::hovered, s, [hover, name, whose](const QPointF &p, bool on) {
      if (on && hover)
        hover(QString("%1 dip %2: %3 %4").arg(whose).arg(std::lround(p.x())).arg(name).arg(p.y(), 0, 'f', 3));
    });
  };
  for (const TCurve &c : curves)
    curve(c, dips, QString(), QPen(c.Color, c.Recipe ? 1.5 : 2, c.Recipe ? Qt::DashLine : Qt::SolidLine));
  // Dips not done, on the bottom hold's axis where their hold would be.
  auto faults = [&](const std::vector<const TRecordRow *> &of, const QString &tag, const QColor &border,
                    QScatterSeries::MarkerShape shape) {
    auto *s = new QScatterSeries;
    s->setName("not done" + tag);
    s->setColor(FaultColor);
    s->setBorderColor(border);
    s->setMarkerShape(shape);
    s->setMarkerSize(9);
    chart->addSeries(s);
    s->attachAxis(n);
    s->attachAxis(held);
    QList<QPointF> pts;
    for (size_t i = 0; i < of.size(); ++i)
      if (Failed(*of[i]))
        pts.append(QPointF(double(i + 1), of[i]->HeldBottom >= 0 ? of[i]->HeldBottom / 1000.0 : 0.0));
    if (pts.isEmpty()) HideMarker(chart, s);
    marks.emplace_back(s, std::move(pts));
  };
  faults(dips, QString(), FaultColor, QScatterSeries::MarkerShapeCircle);
  if (compared) {
    for (const TCurve &c : curves)
      if (!c.Recipe) curve(c, others, ComparisonTag, QPen(c.Compared, 1.5));
    faults(others, ComparisonTag, CompareColor, QScatterSeries::MarkerShapeRectangle);
  }
  speed->setGridLineVisible(false);  // one grid: the held axis's
  const size_t most = std::max(dips.size(), others.size());
  n->setRange(0.5, std::max<double>(1.5, double(most) + 0.5));
  n->setTickType(QValueAxis::TicksDynamic);
  n->setTickAnchor(1);
  n->setTickInterval(std::max(1.0, std::ceil(double(most) / 20)));
  for (QValueAxis *a : {held, speed}) {
    auto it = range.find(a);
    const double lo = it == range.end() ? 0 : it->second.first,
                 hi = it == range.end() ? 1 : it->second.second;
    const double pad = std::max((hi - lo) * 0.1, std::max(std::fabs(hi) * 0.05, 0.01));
    a->setRange(std::max(0.0, lo - pad), hi + pad);
    a->applyNiceNumbers();
  }
  for (auto &[thin, count] : lines) thin->Draw(0, double(count) + 1, 1000);
  for (auto &[series, pts] : marks) series->replace(pts);
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
  emit Settled();
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
    emit Settled();
    return;
  }
  QChartView::mouseReleaseEvent(event);  // a box drawn zooms in, the right button out
  if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
    UserZoomed = chart()->isZoomed();
    if (UserZoomed) emit Settled();
  }
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
    case Qt::Key_Left:
    case Qt::Key_Right: {
      const int dir = event->key() == Qt::Key_Left ? -1 : 1;
      if (StepTime) {
        StepTime(dir);
        UserZoomed = true;
      } else {
        Pan(dir * step, 0);
      }
      break;
    }
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
