// The drawing of the "Run record" window.
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "app/RunRecordWindow.h"

namespace {
const QColor RecipeColor(110, 150, 215);
const QColor SeenColor(0, 50, 150);
const QColor LiveColor(230, 110, 0);
const QColor TravelColor(222, 222, 222);
const QColor FastColor(255, 238, 190);
const QColor FaultColor(200, 0, 0);

struct TPoint {
  double Ms, Z;
};

bool IsDip(const TRecordRow &r) { return r.Mode == RecordStepByStep; }
bool IsBand(const TRecordRow &r) { return r.Mode == RecordTravel || r.Mode == RecordFast; }
bool IsEnd(const TRecordRow &r) { return r.Mode == RecordEnd; }
bool Failed(const TRecordRow &r) { return !IsEnd(r) && r.End != EndDone; }

// What the recipe asks, from the moment the down stroke was commanded.
std::vector<TPoint> Nominal(const TRecordRow &r) {
  if (!IsDip(r) || r.DownAt < 0 || !std::isfinite(r.Top) || !std::isfinite(r.Bottom)) return {};
  if (!(r.InSpeed > 0) || !(r.OutSpeed > 0)) return {};
  const double stroke = std::fabs(r.Bottom - r.Top);
  auto wait = [](double s) { return std::isfinite(s) && s > 0 ? s * 1000 : 0.0; };
  double t = double(r.DownAt);
  std::vector<TPoint> pts{{t, r.Top}};
  pts.push_back({t += stroke / r.InSpeed * 1000, r.Bottom});
  pts.push_back({t += wait(r.InTime), r.Bottom});
  pts.push_back({t += stroke / r.OutSpeed * 1000, r.Top});
  pts.push_back({t += wait(r.OutTime), r.Top});
  return pts;
}

// What was seen: the position reads together with the four moments of the
// stroke, in time order. The reads alone may be too few to show the stroke.
std::vector<TPoint> Observed(const TRecordRow &r) {
  std::vector<TPoint> pts;
  for (const TReading &z : r.ZReads) pts.push_back({double(z.first), z.second});
  if (!IsDip(r)) return pts;
  const std::pair<int64_t, double> moments[] = {
      {r.DownAt, r.Top}, {r.BottomAt, r.Bottom}, {r.UpAt, r.Bottom}, {r.TopAt, r.Top}};
  for (const auto &m : moments)
    if (m.first >= 0) pts.push_back({double(m.first), m.second});
  std::stable_sort(pts.begin(), pts.end(), [](const TPoint &a, const TPoint &b) { return a.Ms < b.Ms; });
  return pts;
}

int64_t LastSeen(const TRecordRow &r) {
  int64_t t = std::max({r.DownAt, r.BottomAt, r.UpAt, r.TopAt});
  if (!r.ZReads.empty()) t = std::max(t, r.ZReads.back().first);
  return t;
}

// The time a row covers, ms; first < 0 when it has none.
std::pair<double, double> Span(const TRecordRow &r) {
  double end = double(LastSeen(r));
  const std::vector<TPoint> nom = Nominal(r);
  if (r.TopAt < 0 && !nom.empty()) end = std::max(end, nom.back().Ms);
  return {double(r.DownAt), end};
}

QString Fixed(double v, int decimals = 2) {
  return std::isfinite(v) ? QString::number(v, 'f', decimals) : QString("-");
}
QString Seconds(int64_t ms) { return ms < 0 ? QString("-") : Fixed(ms / 1000.0) + " s"; }

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
    lines << QString("held %1 at the bottom, %2 at the top; withdrawal %3 cm/s")
                 .arg(Seconds(r.HeldBottom), Seconds(r.HeldTop), Fixed(r.Withdrawal, 4));
  }
  if (!r.Outputs.empty()) lines << "outputs: " + QString::fromStdString(r.Outputs);
  QString end = "end: " + QString::fromStdString(r.End.empty() ? "-" : r.End);
  if (r.ErrorBits) end += QString(" (error bits 0x%1)").arg(r.ErrorBits, 4, 16, QChar('0'));
  lines << end;
  return lines.join('\n');
}

const char *const LegendTexts[] = {"recipe", "observed",  "dip in progress",
                                   "travel", "fast dips", "not done"};
int LegendWidth(const QFontMetrics &fm) {
  int w = 0;
  for (const char *t : LegendTexts) w = std::max(w, fm.horizontalAdvance(t));
  return w + 38;
}

// A step of 1, 2 or 5 times a power of ten giving about `count` ticks.
double TickStep(double range, int count) {
  const double raw = range / std::max(count, 1);
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  for (double f : {1.0, 2.0, 5.0})
    if (raw <= f * mag) return f * mag;
  return 10 * mag;
}
}  // namespace

TRunRecordPlot::TRunRecordPlot(QWidget *parent) : QWidget(parent) {
  setObjectName("RunRecordPlot");
  setMouseTracking(true);
  setMinimumSize(400, 250);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
}

void TRunRecordPlot::SetRows(const std::vector<TRecordRow> *rows, const std::vector<TReading> *live) {
  Rows = rows;
  Live = live;
  update();
}

void TRunRecordPlot::Measure() {
  // The legend stands right of the drawing, clear of the curves.
  Area = QRectF(rect()).adjusted(60, 12, -(LegendWidth(fontMetrics()) + 24), -42);
  double t1 = 1000, z0 = 0, z1 = 1;
  auto seeZ = [&](double z) {
    if (!std::isfinite(z)) return;
    z0 = std::min(z0, z);
    z1 = std::max(z1, z);
  };
  if (Rows)
    for (const TRecordRow &r : *Rows) {
      t1 = std::max(t1, Span(r).second);
      if (IsEnd(r)) continue;
      seeZ(r.Top);
      seeZ(r.Bottom);
      for (const TReading &z : r.ZReads) seeZ(z.second);
    }
  if (Live)
    for (const TReading &z : *Live) {
      t1 = std::max(t1, double(z.first));
      seeZ(z.second);
    }
  T1 = t1 * 1.03;
  Z0 = z0;
  Z1 = z1 + (z1 - z0) * 0.08;
}

QPointF TRunRecordPlot::At(double ms, double z) const {
  return {Area.left() + ms / T1 * Area.width(), Area.top() + (z - Z0) / (Z1 - Z0) * Area.height()};
}

QString TRunRecordPlot::TextAt(const QPoint &p) const {
  if (!Rows || !Area.contains(p)) return {};
  const double ms = (p.x() - Area.left()) / Area.width() * T1;
  const double slack = 3 / Area.width() * T1;  // a few pixels either side
  for (auto it = Rows->rbegin(); it != Rows->rend(); ++it) {
    if (IsEnd(*it) || it->DownAt < 0) continue;
    const auto span = Span(*it);
    if (ms >= span.first - slack && ms <= span.second + slack) return RowText(*it);
  }
  return {};
}

void TRunRecordPlot::mouseMoveEvent(QMouseEvent *event) {
  const QString text = TextAt(event->position().toPoint());
  if (text.isEmpty()) QToolTip::hideText();
  else QToolTip::showText(event->globalPosition().toPoint(), text, this);
}

void TRunRecordPlot::DrawAxes(QPainter &p) const {
  const QFontMetrics fm(p.font());
  p.setPen(QColor(150, 150, 150));
  p.drawRect(Area);
  const double ts = TickStep(T1 / 1000, int(Area.width() / 80));
  for (double s = 0; s * 1000 <= T1; s += ts) {
    const double x = At(s * 1000, Z0).x();
    p.setPen(QColor(235, 235, 235));
    p.drawLine(QPointF(x, Area.top()), QPointF(x, Area.bottom()));
    p.setPen(Qt::black);
    const QString label = QString::number(s, 'g', 6);
    p.drawText(QPointF(x - fm.horizontalAdvance(label) / 2.0, Area.bottom() + fm.ascent() + 3), label);
  }
  const double zs = TickStep(Z1 - Z0, int(Area.height() / 40));
  for (double z = std::ceil(Z0 / zs) * zs; z <= Z1; z += zs) {
    const double y = At(0, z).y();
    p.setPen(QColor(235, 235, 235));
    p.drawLine(QPointF(Area.left(), y), QPointF(Area.right(), y));
    p.setPen(Qt::black);
    const QString label = QString::number(z, 'g', 6);
    p.drawText(QPointF(Area.left() - fm.horizontalAdvance(label) - 5, y + fm.ascent() / 2.0), label);
  }
  const QString xTitle = "time since the run began [s]";
  p.drawText(QPointF(Area.center().x() - fm.horizontalAdvance(xTitle) / 2.0, height() - 6), xTitle);
  p.save();
  p.translate(14, Area.center().y());
  p.rotate(-90);
  const QString yTitle = "Z [cm], down";
  p.drawText(QPointF(-fm.horizontalAdvance(yTitle) / 2.0, 0), yTitle);
  p.restore();
}

void TRunRecordPlot::DrawLegend(QPainter &p) const {
  const QFontMetrics fm(p.font());
  struct TEntry {
    QString Text;
    QPen Pen;
    QColor Fill;
  };
  const TEntry entries[] = {
      {LegendTexts[0], QPen(RecipeColor, 1.5, Qt::DashLine), {}},
      {LegendTexts[1], QPen(SeenColor, 2), {}},
      {LegendTexts[2], QPen(LiveColor, 2), {}},
      {LegendTexts[3], Qt::NoPen, TravelColor},
      {LegendTexts[4], Qt::NoPen, FastColor},
      {LegendTexts[5], QPen(FaultColor, 2), {}},
  };
  const int line = fm.height() + 2;
  QRectF box(Area.right() + 10, Area.top(), LegendWidth(fm), line * 6 + 8);
  p.setPen(QColor(160, 160, 160));
  p.setBrush(QColor(255, 255, 255, 230));
  p.drawRect(box);
  double y = box.top() + 4 + line / 2.0;
  for (const TEntry &e : entries) {
    const QRectF sample(box.left() + 6, y - 5, 22, 10);
    if (e.Fill.isValid()) p.fillRect(sample, e.Fill);
    else {
      p.setPen(e.Pen);
      p.drawLine(QPointF(sample.left(), y), QPointF(sample.right(), y));
    }
    p.setPen(Qt::black);
    p.drawText(QPointF(sample.right() + 6, y + fm.ascent() / 2.0 - 1), e.Text);
    y += line;
  }
}

void TRunRecordPlot::paintEvent(QPaintEvent *) {
  Measure();
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics fm(p.font());
  const bool empty = (!Rows || Rows->empty()) && (!Live || Live->empty());
  if (empty) {
    p.drawText(rect(), Qt::AlignCenter, "No run recorded yet.");
    return;
  }
  // Adjacent reads within half a pixel make one point: hours of reads stay cheap.
  auto path = [this](const std::vector<TPoint> &pts) {
    QPolygonF poly;
    for (const TPoint &pt : pts) {
      if (!std::isfinite(pt.Z)) continue;
      const QPointF q = At(pt.Ms, pt.Z);
      if (poly.isEmpty() || std::fabs(q.x() - poly.back().x()) >= 0.5 ||
          std::fabs(q.y() - poly.back().y()) >= 0.5)
        poly << q;
    }
    return poly;
  };
  // Bands under everything else.
  p.save();
  p.setClipRect(Area);
  for (const TRecordRow &r : *Rows) {
    if (!IsBand(r) || r.DownAt < 0) continue;
    const auto span = Span(r);
    const double x0 = At(span.first, Z0).x(), x1 = std::max(At(span.second, Z0).x(), x0 + 2);
    p.fillRect(QRectF(x0, Area.top(), x1 - x0, Area.height()),
               r.Mode == RecordFast ? FastColor : TravelColor);
    const QString label =
        r.Mode == RecordFast ? QString("fast dips %1").arg(r.Dips) : QString::fromStdString(r.Position);
    if (fm.horizontalAdvance(label) < x1 - x0 + 40) {
      p.setPen(QColor(80, 80, 80));
      p.drawText(QPointF(x0 + 2, Area.bottom() - 4), label);
    }
  }
  p.setBrush(Qt::NoBrush);
  for (const TRecordRow &r : *Rows) {
    p.setPen(QPen(RecipeColor, 1.5, Qt::DashLine));
    p.drawPolyline(path(Nominal(r)));
  }
  p.setPen(QPen(SeenColor, 2));
  for (const TRecordRow &r : *Rows) p.drawPolyline(path(Observed(r)));
  if (Live) {
    std::vector<TPoint> pts;
    for (const TReading &z : *Live) pts.push_back({double(z.first), z.second});
    p.setPen(QPen(LiveColor, 2));
    p.drawPolyline(path(pts));
  }
  // Faults and the run's end: a line at the moment, its end written beside.
  for (const TRecordRow &r : *Rows) {
    if (!Failed(r) && !IsEnd(r)) continue;
    const int64_t t = IsEnd(r) ? r.TopAt : LastSeen(r);
    if (t < 0) continue;
    const double x = At(double(t), Z0).x();
    const bool fault = Failed(r) || r.End != EndDone;
    p.setPen(QPen(fault ? FaultColor : QColor(120, 120, 120), 2, IsEnd(r) ? Qt::DotLine : Qt::SolidLine));
    p.drawLine(QPointF(x, Area.top()), QPointF(x, Area.bottom()));
    const QString text = QString::fromStdString(IsEnd(r) ? "end: " + r.End : r.End.empty() ? "?" : r.End);
    const double tx =
        x + 4 + fm.horizontalAdvance(text) > Area.right() ? x - 4 - fm.horizontalAdvance(text) : x + 4;
    p.drawText(QPointF(tx, Area.top() + fm.ascent() + (IsEnd(r) ? 4 : 4 + fm.height())), text);
  }
  p.restore();
  DrawAxes(p);
  DrawLegend(p);
}
