// The "Run record" window (offscreen): the charts of a run, the summary line,
// the read-out, a file that cannot be read, following the recorder, zoom,
// and the exported pictures of a long run (kept in the build folder).
#include <gtest/gtest.h>

#include <QChart>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QAreaSeries>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QXYSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QValueAxis>
#include <cmath>
#include <fstream>

#include "app/RunRecordPlot.h"
#include "app/RunRecordWindow.h"
#include "base/Host.h"
#include "support/Fakes.h"
#include "support/TempDir.h"

namespace {

class RunRecordWindow : public TTempDirTest {};

TRecordRow Dip(int k, int64_t down, const char *end, int dips = 3) {
  TRecordRow r;
  r.Task = "T";
  r.Process = "Dip";
  r.Position = "Rinse";
  r.Dip = k;
  r.Dips = dips;
  r.Mode = RecordStepByStep;
  r.Top = 1.5, r.Bottom = 2.5, r.InSpeed = 1, r.OutSpeed = 2, r.InTime = 0.2, r.OutTime = 0.2;
  r.DownAt = down, r.BottomAt = down + 1100, r.UpAt = down + 1400, r.TopAt = down + 2000;
  r.HeldBottom = 300, r.HeldTop = 250, r.Withdrawal = 1.98;
  r.End = end;
  return r;
}

int SeriesPoints(QChart *chart, const QString &name) {
  for (QAbstractSeries *s : chart->series())
    if (s->name() == name)
      if (auto *xy = qobject_cast<QXYSeries *>(s)) return xy->count();
  return -1;
}

// The points of each series drawn, by name; no legend entry without points.
std::map<QString, int> Drawn(QChart *chart) {
  std::map<QString, int> drawn;
  for (QAbstractSeries *s : chart->series()) {
    auto *area = qobject_cast<QAreaSeries *>(s);
    const int n = int(area ? area->upperSeries()->count() : qobject_cast<QXYSeries *>(s)->count());
    for (QLegendMarker *m : chart->legend()->markers(s)) EXPECT_TRUE(n > 0 || !m->isVisible()) << s->name().toStdString();
    if (n > 0) drawn[s->name()] += n;
  }
  return drawn;
}

TEST_F(RunRecordWindow, ShowsARunNamesTheFailedDipAndKeepsItOnABadFile) {
  TRecordRow travel;
  travel.Mode = RecordTravel, travel.Position = "Rinse", travel.DownAt = 0, travel.TopAt = 900;
  travel.End = EndDone;
  TRecordRow failed = Dip(2, 3200, EndMoveFailed);
  failed.TopAt = -1, failed.ErrorBits = 0x80;
  failed.ZReads = {{3200, 1.5}, {3700, 2.0}, {4300, 2.5}, {4600, 2.4}};
  TRecordRow end;
  end.Mode = RecordEnd, end.TopAt = 5000, end.End = EndMoveFailed;

  TRunRecordWindow w;
  EXPECT_TRUE(w.isWindow());
  EXPECT_EQ(w.parentWidget(), nullptr);
  EXPECT_FALSE(w.testAttribute(Qt::WA_QuitOnClose));
  w.ShowRows({travel, Dip(1, 1000, EndDone), failed, end}, "runs/2024-05-01_10-00-00_T.csv");
  w.show();
  EXPECT_GT(w.Run->Points(), 10);
  // The failed dip as the recipe would have ended it (5100 ms), and 2 % more,
  // up to eight round steps of a second.
  EXPECT_EQ(w.Run->Time->min().msecsTo(w.Run->Time->max()), 8000);
  const QString info = w.Info->text();
  EXPECT_TRUE(info.startsWith("2024-05-01_10-00-00_T.csv")) << info.toStdString();
  EXPECT_TRUE(info.contains("run ended: move failed after 0:00:05.0")) << info.toStdString();
  EXPECT_TRUE(info.contains("first fault: Dip dip 2 of 3: move failed")) << info.toStdString();
  // Without a series, no legend entry ("fast dips", "dip in progress").
  QStringList legend;
  for (QLegendMarker *m : w.RunView->chart()->legend()->markers())
    if (m->isVisible()) legend << m->label();
  EXPECT_EQ(legend, QStringList({"travel", "(recipe)", "observed", "not done"}));
  // The summary wraps: the window fits the screen.
  const QRect room = w.screen()->availableGeometry();
  const QSize need = w.minimumSizeHint();
  EXPECT_TRUE(need.width() <= room.width() && need.height() <= room.height()) << need.width() << "x" << need.height();
  // The nearest reading (4300 ms), not the cursor's height.
  const QString hover = w.ReadOutAt(4310);
  EXPECT_TRUE(hover.startsWith("0:00:04.3, Z 2.50 cm\nDip at Rinse: dip 2 of 3")) << hover.toStdString();
  EXPECT_TRUE(hover.contains("end: move failed (error bits 0x0080)")) << hover.toStdString();
  EXPECT_EQ(w.ReadOutAt(600).section('\n', 1, 1), "travel to Rinse (X -, Y - cm)");

  // A file that is no record: the rows stay, a box says why.
  Put("bad.csv", "this is not a run record\n");
  EXPECT_FALSE(w.OpenRecord("bad.csv"));
  EXPECT_EQ(w.Info->text(), info);
  auto *box = w.findChild<QMessageBox *>("RecordError");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text().startsWith("The run record \"bad.csv\" cannot be read: "))
      << box->text().toStdString();
  EXPECT_GT(box->text().size(), QString("The run record \"bad.csv\" cannot be read: ").size());
  // On a real display (the run under Xvfb), with a long summary: the window
  // as placed lies within the screen, and the screen's picture shows it.
  if (QGuiApplication::platformName() == "xcb") {
    box->close();
    w.ShowRows({travel, Dip(1, 1000, EndDone), failed, end},
               "runs/2024-05-01_10-00-00_" + std::string(30, 'T') + QString(" batch T").repeated(30).toStdString() + ".csv");
    QTimer::singleShot(500, [] { QCoreApplication::exit(); });
    QCoreApplication::exec();  // mapped, placed and painted
    EXPECT_TRUE(room.contains(w.frameGeometry())) << w.frameGeometry().width() << "x" << w.frameGeometry().height();
    const QImage shot = w.screen()->grabWindow(0).toImage();
    shot.save(QString(KV_BUILD_DIR) + "/run-record-window-xvfb.png");
    const QRect inside = w.geometry().intersected(shot.rect());
    EXPECT_GT(inside.width() * inside.height(), need.width() * need.height() / 2);
    EXPECT_NE(shot.pixel(inside.center()), shot.pixel(inside.topLeft() + QPoint(2, 2)));
  }
}

// The recorder's one listener is the window's only while it shows, and it
// only marks: the rows reach the charts on the live timer's tick, never
// inside the run's own call. A row added after the window closed must not
// reach a window that is gone.
TEST_F(RunRecordWindow, FollowsTheRecorderOnItsTimerWhileShown) {
  {
    TRunRecordWindow w;
    w.show();
    ASSERT_TRUE(RunRecorder().Begin("T", 0, GetTickCount()));
    EXPECT_TRUE(w.LiveTimer->isActive() || (w.DrawNews(), w.LiveTimer->isActive()));
    // A hold's many equal reads: its two ends are drawn.
    for (int i = 0; i < 50; ++i) RunRecorder().NoteZ(1.7);
    w.DrawNews();
    QChart *run = w.RunView->chart();
    EXPECT_EQ(SeriesPoints(run, "dip in progress"), 2);
    RunRecorder().NoteZ(2.0);
    w.DrawNews();
    EXPECT_EQ(SeriesPoints(run, "dip in progress"), 2);  // one pixel column: its ends
    const QString before = w.Info->text();
    RunRecorder().Add(Dip(1, 0, EndStopped));
    QCoreApplication::processEvents();
    EXPECT_EQ(w.Info->text(), before);
    w.DrawNews();
    EXPECT_TRUE(w.Info->text().contains("run in progress")) << w.Info->text().toStdString();
    EXPECT_TRUE(w.Info->text().contains("first fault: Dip dip 1 of 3: stopped"))
        << w.Info->text().toStdString();
    EXPECT_EQ(SeriesPoints(run, "dip in progress"), 0);  // now the dip's row
    EXPECT_EQ(SeriesPoints(run, "not done"), 1);
    const int points = w.Run->Points();
    RunRecorder().Add(Dip(2, 2500, EndDone));
    w.DrawNews();
    EXPECT_GT(w.Run->Points(), points);
    w.close();
    EXPECT_FALSE(w.LiveTimer->isActive());
  }
  RunRecorder().Add(Dip(3, 5000, EndDone));
  RunRecorder().Finish(EndStopped, 0);
}

// A long run: the recorder keeps only its newest rows' reads, a window
// opened late takes the older ones from the file (dip 1 went deeper), and
// however long the run, the chart draws a few points per pixel column.
TEST_F(RunRecordWindow, ALongRunTakesOldReadsFromTheFileAndDrawsThin) {
  THostFixture host;
  ASSERT_TRUE(RunRecorder().Begin("T", 0, host.Clock.Now));
  const int dips = int(TRunRecorder::KeepReadsRows) + 100;
  for (int k = 1; k <= dips; ++k) {
    TRecordRow r = Dip(k, RunRecorder().Now(), EndDone, dips);
    for (int i = 0; i < 20; ++i, host.Clock.Now += 100) RunRecorder().NoteZ(i == 5 && k == 1 ? 9 : 1.5 + i % 10 * 0.1);
    r.ZReads = RunRecorder().LiveZ();
    RunRecorder().Add(r);
  }
  EXPECT_TRUE(RunRecorder().Rows().front().ZReads.empty());
  EXPECT_EQ(RunRecorder().Rows().back().ZReads.size(), 20u);
  TRunRecordWindow w;
  w.resize(1000, 700);
  w.show();
  w.DrawNews();  // the older reads are read beside the window, then drawn
  for (QDeadlineTimer end(60000); w.Reading() && !end.hasExpired();)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  for (const char *line : {"observed", "(recipe)"})
    EXPECT_LE(SeriesPoints(w.RunView->chart(), line), 4 * int(w.RunView->chart()->plotArea().width()) + 2);
  w.Tabs->setCurrentWidget(w.OverlayView);
  auto *range = qobject_cast<QAreaSeries *>(w.OverlayView->chart()->series().at(1));
  ASSERT_NE(range, nullptr);
  emit range->hovered(QPointF(0.52, 2), true);
  EXPECT_TRUE(w.ReadOut->text().endsWith(QString("(dip 1) over %1 dips").arg(dips)))
      << w.ReadOut->text().toStdString();
  // Export data holds every read of the run, the old ones from the file,
  // and those of the dip in progress.
  RunRecorder().NoteZ(4.25);
  QString error;
  ASSERT_TRUE(w.ExportData("live.csv", error)) << error.toStdString();
  QFile data("live.csv");
  ASSERT_TRUE(data.open(QIODevice::ReadOnly));
  const QString csv = QString::fromUtf8(data.readAll());
  EXPECT_EQ(csv.count("\nread,"), dips * 20 + 1);
  EXPECT_TRUE(csv.contains("\nread,0.500,9.0000,") && csv.contains(",4.2500,")) << csv.left(400).toStdString();
  RunRecorder().Finish(EndDone, 0);
}

// A range grown at its end is thinned from the old columns' points: the
// same points as thinning the whole line again.
TEST_F(RunRecordWindow, AGrownRangeThinsAsTheWholeLine) {
  QLineSeries grown, whole;
  TThinLine a(&grown), b(&whole);
  auto y = [](int i) { return std::fmod(i * 7.31, 13.0) + i * 1e-6; };  // no two alike
  for (int i = 0; i < 1000; ++i) a.Append(i, y(i));
  a.Draw(0, 1000, 100);
  for (int i = 1000; i < 2000; ++i) a.Append(i, y(i));
  for (int i = 0; i < 2000; ++i) b.Append(i, y(i));
  a.Draw(0, 2000, 100);
  b.Draw(0, 2000, 100);
  EXPECT_EQ(grown.points(), whole.points());
  EXPECT_LE(grown.count(), 4 * 101);
  for (int i = 2000; i < 2100; ++i) a.Append(i, y(i)), b.Append(i, y(i));
  a.Draw(0, 2000, 100);
  b.Draw(0, 2000, 100);
  EXPECT_EQ(grown.points(), whole.points());
}

// What the mouse and keys do on a chart, as the operator does it: read-out,
// wheel, box, pan, double-click and Home back to the whole run; the
// overlay's read-out names the dip; a picture that cannot be written says so.
TEST_F(RunRecordWindow, MouseAndKeysZoomPanAndReadOut) {
  TRunRecordWindow w;
  w.resize(1000, 700);
  w.ShowRows({Dip(1, 0, EndDone), Dip(2, 2500, EndDone), Dip(3, 5000, EndDone)}, "");
  w.show();
  QWidget *port = w.RunView->viewport();
  auto span = [&] { return w.Run->Time->min().msecsTo(w.Run->Time->max()); };
  auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
                   Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent e(type, at, port->mapToGlobal(at), button, held, mods);
    QCoreApplication::sendEvent(port, &e);
  };
  const QRectF area = w.RunView->chart()->plotArea();
  const QPoint mid = w.RunView->mapFromScene(w.RunView->chart()->mapToScene(area.center()));
  const qint64 whole = span();

  mouse(QEvent::MouseMove, mid, Qt::NoButton, Qt::NoButton);
  EXPECT_TRUE(w.ReadOut->text().startsWith("0:00:0")) << w.ReadOut->text().toStdString();
  EXPECT_TRUE(w.ReadOut->text().contains("Dip at Rinse: dip 2 of 3")) << w.ReadOut->text().toStdString();

  QWheelEvent wheel(mid, port->mapToGlobal(mid), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(port, &wheel);
  EXPECT_TRUE(w.RunView->Zoomed());
  EXPECT_LT(span(), whole);
  mouse(QEvent::MouseButtonDblClick, mid, Qt::LeftButton, Qt::LeftButton);
  EXPECT_FALSE(w.RunView->Zoomed());
  EXPECT_EQ(span(), whole);

  // A box over the middle fifth.
  const QPoint from = mid - QPoint(int(area.width() / 10), 40), to = mid + QPoint(int(area.width() / 10), 40);
  mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  mouse(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  EXPECT_TRUE(w.RunView->Zoomed());
  EXPECT_NEAR(double(span()), whole / 5.0, whole / 20.0);
  // Middle button dragged right: earlier times come into sight.
  const QDateTime left = w.Run->Time->min();
  mouse(QEvent::MouseButtonPress, mid, Qt::MiddleButton, Qt::MiddleButton);
  mouse(QEvent::MouseMove, mid + QPoint(80, 0), Qt::NoButton, Qt::MiddleButton);
  mouse(QEvent::MouseButtonRelease, mid + QPoint(80, 0), Qt::MiddleButton, Qt::NoButton);
  EXPECT_LT(w.Run->Time->min(), left);
  QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
  QCoreApplication::sendEvent(w.RunView, &home);
  EXPECT_EQ(span(), whole);
  QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::NoModifier);
  QCoreApplication::sendEvent(w.RunView, &plus);
  EXPECT_LT(span(), whole);
  // The arrow keys move by a tick step: the ticks stay on round times.
  const QDateTime before = w.Run->Time->min();
  QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
  QCoreApplication::sendEvent(w.RunView, &right);
  EXPECT_EQ(before.msecsTo(w.Run->Time->min()), span() / 8);
  EXPECT_EQ(qint64(RecordMs(double(w.Run->Time->min().toMSecsSinceEpoch()))) % (span() / 8), 0);
  w.WholeButton->click();

  w.Tabs->setCurrentWidget(w.OverlayView);
  auto *latest = qobject_cast<QXYSeries *>(w.OverlayView->chart()->series().at(2));
  emit latest->hovered(QPointF(1.25, 2.5), true);
  EXPECT_EQ(w.ReadOut->text(),
            "Dip dip 3 in this run (dip 3 of 3, done): 1.25 s after the down command, Z 2.50 cm");
  auto *range = qobject_cast<QAreaSeries *>(w.OverlayView->chart()->series().at(1));
  emit range->hovered(QPointF(1.25, 2.5), true);
  EXPECT_EQ(w.ReadOut->text(), "Dip at 1.25 s after the down command: Z from 2.50 cm (dip 1) to 2.50 cm (dip 1) over 3 dips");

  EXPECT_TRUE(w.TitleLines()[1].startsWith("date not known  ·  (no file)"))
      << w.TitleLines()[1].toStdString();
  QString error;
  EXPECT_FALSE(w.Export(QString::fromStdString(Dir) + "/no-such-folder/run.png", error));
  EXPECT_EQ(error, "the file cannot be written");
}

// The process list offers the processes with dips, the one with the most
// chosen; a dip not done is drawn apart on the overlay; the holds chart
// and the title block follow the choice and the recipes.
TEST_F(RunRecordWindow, ProcessChoiceOverlayAndRecipes) {
  TRecordRow coat = Dip(1, 9000, EndDone, 1);
  coat.Process = "Coat", coat.HeldBottom = 410;
  TRecordRow fast;
  fast.Process = "Rinse", fast.Position = "Beaker", fast.Mode = RecordFast, fast.Dips = 5;
  fast.Top = 1, fast.Bottom = 4, fast.DownAt = 12000, fast.TopAt = 20000, fast.End = EndDone;
  TRunRecordWindow w;
  w.ShowRows({coat, Dip(1, 0, EndDone), Dip(2, 2500, EndDone), Dip(3, 5000, EndLost), fast}, "");
  w.show();
  ASSERT_EQ(w.ProcessList->count(), 2);
  EXPECT_EQ(w.ProcessList->itemText(0), "Coat");
  EXPECT_EQ(w.ProcessList->currentText(), "Dip");
  w.Tabs->setCurrentWidget(w.OverlayView);
  QChart *overlay = w.OverlayView->chart();
  EXPECT_EQ(overlay->series().size(), 4);  // recipe, range, latest, not done
  EXPECT_EQ(overlay->series().at(1)->name(), "range of 2 dips");
  EXPECT_EQ(overlay->series().at(3)->name(), "not done");
  EXPECT_EQ(overlay->title(), "Dip: every dip from its down command");
  w.Tabs->setCurrentWidget(w.HoldsView);
  auto *held = qobject_cast<QXYSeries *>(w.HoldsView->chart()->series().at(0));
  EXPECT_EQ(held->name(), "held at the bottom");
  EXPECT_EQ(held->points(), (QList<QPointF>{{1, 0.3}, {2, 0.3}, {3, 0.3}}));
  w.ProcessList->setCurrentText("Coat");
  held = qobject_cast<QXYSeries *>(w.HoldsView->chart()->series().at(0));
  EXPECT_EQ(held->points(), (QList<QPointF>{{1, 0.41}}));
  const QStringList title = w.TitleLines();
  EXPECT_TRUE(title.contains("recipe: Rinse at Beaker: Z 1.00 to 4.00 cm, 5 fast dips"))
      << title.join('|').toStdString();
  EXPECT_TRUE(w.ReadOutAt(15000).contains("Rinse at Beaker: fast dips 5"));
}

// Batch against batch: a second record with more dips and a failed one
// beside this run's, on the overlay, the holds chart and the export's title;
// a process it lacks shows nothing of it; a bad file keeps what was shown.
TEST_F(RunRecordWindow, ASecondRecordAsComparison) {
  std::string text = RecordHeader() + "\n";
  for (int k = 1; k <= 4; ++k) {
    TRecordRow r = Dip(k, 3000 * k, k == 2 ? EndMoveFailed : EndDone, 4);
    r.Task = "B", r.HeldBottom = 500, r.TopAt = k == 2 ? -1 : r.TopAt;
    text += FormatRecordRow(r) + "\n";
  }
  Put("2024-06-02_09-00-00_B.csv", text), Put("bad.csv", "no record\n");
  TRecordRow coat = Dip(1, 9000, EndDone, 1);
  coat.Process = "Coat";
  TRunRecordWindow w;
  w.ShowRows({Dip(1, 0, EndDone), Dip(2, 2500, EndDone), Dip(3, 5000, EndLost), coat}, "");
  w.show();
  w.Tabs->setCurrentWidget(w.OverlayView);
  const auto alone = Drawn(w.OverlayView->chart());
  const QString info = w.Info->text();
  EXPECT_FALSE(w.CompareRecord("bad.csv") || w.Comparing() || w.DropCompareButton->isVisible());
  EXPECT_NE(w.findChild<QMessageBox *>("RecordError"), nullptr);
  EXPECT_EQ(Drawn(w.OverlayView->chart()), alone);
  EXPECT_EQ(w.Info->text(), info);
  ASSERT_TRUE(w.CompareRecord("2024-06-02_09-00-00_B.csv"));
  EXPECT_TRUE(w.DropCompareButton->isVisible());
  EXPECT_EQ(w.Info->text(), info + "  ·  compared with 2024-06-02_09-00-00_B.csv");
  auto compared = [](std::map<QString, int> drawn) {
    for (auto it = drawn.begin(); it != drawn.end();) it = it->first.endsWith("(comparison)") ? std::next(it) : drawn.erase(it);
    return drawn;
  };
  auto overlay = Drawn(w.OverlayView->chart());
  EXPECT_EQ(compared(overlay), (std::map<QString, int>{{"range of 3 dips (comparison)", overlay["range of 3 dips (comparison)"]},
                                                       {"latest dip (comparison)", 4}, {"not done (comparison)", 3}}));
  EXPECT_GT(overlay["range of 3 dips (comparison)"], 10);
  EXPECT_EQ(overlay["range of 2 dips"], alone.at("range of 2 dips"));
  w.Tabs->setCurrentWidget(w.HoldsView);
  const auto holds = Drawn(w.HoldsView->chart());
  EXPECT_EQ(compared(holds), (std::map<QString, int>{{"held at the bottom (comparison)", 4}, {"held at the top (comparison)", 4},
                                                     {"withdrawal (comparison)", 4}, {"not done (comparison)", 1}}));
  EXPECT_EQ(qobject_cast<QXYSeries *>(w.HoldsView->chart()->series().at(7))->at(0), QPointF(1, 0.5));
  EXPECT_EQ(holds.at("held at the bottom"), 3);
  const QStringList title = w.TitleLines();
  EXPECT_TRUE(title[2].startsWith("comparison: task B  ·  run began 2024-06-02 09:00:00  ·  2024-06-02_09-00-00_B.csv  ·  "
                                  "no end row")) << title[2].toStdString();
  QString error;
  ASSERT_TRUE(w.Export("both.svg", error));
  QFile svg("both.svg");
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  const QByteArray drawing = svg.readAll();
  EXPECT_TRUE(drawing.contains("comparison: task B") && drawing.contains("latest dip (comparison)"));
  w.ProcessList->setCurrentText("Coat");
  EXPECT_TRUE(compared(Drawn(w.HoldsView->chart())).empty());
  w.Tabs->setCurrentWidget(w.OverlayView);
  EXPECT_TRUE(compared(Drawn(w.OverlayView->chart())).empty());
  w.DropComparison();
  EXPECT_EQ(w.TitleLines().size(), title.size() - 1);
  EXPECT_EQ(w.Info->text(), info);
}

// A 100-dip run read back from its file: the process chosen, every dip on
// the overlay, a point per dip on the holds chart, news keeping a zoom,
// and the three pictures with their title block.
TEST_F(RunRecordWindow, A100DipRunZoomsAndExportsWithItsTitleBlock) {
  std::ofstream out("2026-12-07_10-00-00_Coating.csv");
  out << RecordHeader() << "\n";
  std::ofstream zfile("2026-12-07_10-00-00_Coating.reads.csv");
  zfile << "ms,axis,cm\n";
  TRecordRow travel;
  travel.Task = "Coating", travel.Process = "Coat", travel.Position = "Beaker", travel.Mode = RecordTravel;
  travel.X = 8, travel.Y = 6, travel.Top = 5, travel.DownAt = 0, travel.TopAt = 8000, travel.End = EndDone;
  out << FormatRecordRow(travel) << "\n";
  int64_t t = 8200;
  for (int k = 1; k <= 100; ++k) {
    TRecordRow r = Dip(k, t, EndDone, 100);
    r.Task = "Coating", r.Process = "Coat", r.Position = "Beaker";
    r.Top = 5, r.Bottom = 8, r.InSpeed = 2, r.OutSpeed = 0.5, r.InTime = 5, r.OutTime = 2;
    // The one outlier: dip 37 held 1.2 s longer at the bottom.
    const int64_t held = k == 37 ? 6700 : 5500 + (k % 7) * 10;
    r.BottomAt = t + 1550, r.UpAt = r.BottomAt + held, r.TopAt = r.UpAt + 6050;
    r.HeldBottom = held, r.HeldTop = 2300 + (k % 5) * 10, r.Withdrawal = 0.5 - (k % 3) * 0.002;
    r.WrittenAt = r.TopAt;
    for (int64_t s = r.UpAt; s <= r.TopAt; s += 400)
      zfile << s << ",3," << RecordNumber(8 - 3.0 * double(s - r.UpAt) / double(r.TopAt - r.UpAt)) << "\n";
    out << FormatRecordRow(r) << "\n";
    t = r.TopAt + r.HeldTop;
  }
  TRecordRow end;
  end.Task = "Coating", end.Mode = RecordEnd, end.TopAt = t + 9000, end.End = EndDone;
  out << FormatRecordRow(end) << "\n";
  out.close(), zfile.close();

  TRunRecordWindow w;
  w.resize(1000, 700);
  w.show();
  // Read on a thread of its own: the window (and a run) goes on meanwhile.
  w.OpenInBackground("2026-12-07_10-00-00_Coating.csv", false);
  EXPECT_TRUE(w.Reading() && !w.OpenButton->isEnabled() && !w.CompareButton->isEnabled());
  for (QDeadlineTimer end(60000); w.Reading() && !end.hasExpired();)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  ASSERT_TRUE(!w.Reading() && w.OpenButton->isEnabled());
  EXPECT_EQ(w.ProcessList->currentText(), "Coat");
  w.Tabs->setCurrentWidget(w.OverlayView);
  QChart *overlay = w.OverlayView->chart();
  EXPECT_EQ(overlay->series().size(), 3);  // the recipe, the range of all dips, the latest
  EXPECT_EQ(SeriesPoints(overlay, "(recipe)"), 5);
  w.Tabs->setCurrentWidget(w.HoldsView);
  QChart *holds = w.HoldsView->chart();
  EXPECT_EQ(SeriesPoints(holds, "held at the bottom"), 100);
  EXPECT_EQ(SeriesPoints(holds, "withdrawal"), 100);
  EXPECT_EQ(SeriesPoints(holds, "up speed (recipe)"), 2);  // the same all along: its ends
  const auto *heldAxis = static_cast<QValueAxis *>(holds->axes(Qt::Vertical).front());
  EXPECT_GE(heldAxis->max(), 6.7);  // the outlier is inside the chart

  // Zoomed in, news keep the zoom (zoom, pan and the way back: the test above).
  w.Tabs->setCurrentWidget(w.RunView);
  w.RunView->ZoomBy(0.25, QPointF(w.RunView->width() / 2.0, w.RunView->height() / 2.0));
  const qint64 zoomed = w.Run->Time->min().msecsTo(w.Run->Time->max());
  // Ticks at round times: eight round steps from a multiple of the step.
  const qint64 from = QDateTime::fromMSecsSinceEpoch(qint64(AxisTime(0))).msecsTo(w.Run->Time->min());
  const QStringList steps = QString("1000 2000 5000 10000 15000 30000 60000 120000 180000").split(' ');
  EXPECT_TRUE(zoomed % 8 == 0 && steps.contains(QString::number(zoomed / 8)) && from % (zoomed / 8) == 0) << zoomed;
  // Export data: the rows and reads of the visible range, "." decimals.
  QString dataError;
  QFile data("data.csv");
  ASSERT_TRUE(w.ExportData("data.csv", dataError) && data.open(QIODevice::ReadOnly));
  const QStringList table = QString(data.readAll()).split('\n', Qt::SkipEmptyParts);
  EXPECT_TRUE(table.value(0).startsWith("kind,time s,Z cm,process,"));
  int rows = 0, reads = 0;
  for (const QString &line : table.mid(1)) {
    const QStringList f = line.split(',');
    const double ms = f.value(1).toDouble() * 1000, z = f.value(2).toDouble();
    rows += f[0] == "row", reads += f[0] == "read";
    EXPECT_TRUE(f.size() == 15 && (f[0] == "row" || (ms >= from && ms <= from + zoomed && z >= 5 && z <= 8)))
        << line.toStdString();
  }
  EXPECT_TRUE(rows > 0 && rows < 100 && reads > rows) << rows << " " << reads;
  w.DrawNews();
  EXPECT_EQ(w.Run->Time->min().msecsTo(w.Run->Time->max()), zoomed);
  EXPECT_EQ(w.Run->Time->format(), "h:mm:ss");

  const QStringList title = w.TitleLines();
  ASSERT_GE(title.size(), 4);
  EXPECT_EQ(title[0], "Run record of task Coating");
  EXPECT_TRUE(title[1].startsWith("run began 2026-12-07 10:00:00  ·  2026-12-07_10-00-00_Coating.csv"))
      << title[1].toStdString();
  EXPECT_EQ(title[2],
            "recipe: Coat at Beaker: Z 5.00 to 8.00 cm, down 2.0000 cm/s, 5.00 s at the bottom, "
            "up 0.5000 cm/s, 2.00 s at the top, 100 dips");
  EXPECT_EQ(title.back(), QString("Kavetra ") + KV_VERSION_UNDER_TEST);
  std::ofstream("2026-12-07_10-00-00_Coating.about.ini") << "[Run]\nSample=S-17\nOperator=Ana\n";
  EXPECT_EQ(w.TitleLines()[0], "Run record of task Coating, sample S-17");
  std::ofstream("2026-12-07_10-00-00_Coating.about.ini")
      << "[Run]\nSample=S-17 " << std::string(40, 'W') << QString(" batch W").repeated(12).toStdString() << "\n";

  // Every title line, a long one too, wrapped inside the picture's margins
  // and below the one before.
  QStringList lines = title;
  lines << QString("first fault: Coat dip 14 of 20: move failed ").repeated(8);
  const TTitleBlock block = LayOutTitle(lines, 1200);
  ASSERT_EQ(block.Rects.size(), lines.size());
  for (int i = 0; i < lines.size(); ++i) {
    const QRectF need = QFontMetricsF(i ? block.Small : block.Big)
                            .boundingRect(block.Rects[i], Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, lines[i]);
    EXPECT_TRUE(QRectF(0, 0, 1200, block.Height).contains(block.Rects[i]) && block.Rects[i].contains(need)) << i;
    EXPECT_GE(block.Rects[i].top(), i ? block.Rects[i - 1].bottom() : 0.0);
  }
  EXPECT_GT(block.Rects.back().height(), 1.5 * QFontMetricsF(block.Small).height());  // wrapped

  // The pictures are kept in the build folder for a look.
  const QString keep = QString(KV_BUILD_DIR) + "/run-record-100-dips.";
  QString error;
  for (const char *kind : {"png", "pdf", "svg"}) {
    QFile::remove(keep + kind);
    ASSERT_TRUE(w.Export(keep + kind, error)) << kind << ": " << error.toStdString();
  }
  const QImage png(keep + "png");
  EXPECT_EQ(png.width(), 1800);
  EXPECT_GT(png.height(), 2000);
  // The long sample label wraps: no glyph reaches the title block's right margin.
  const int titleHeight = int(LayOutTitle(w.TitleLines(), 1200).Height * png.width() / 1200);
  for (int y = 0; y < titleHeight; ++y)
    for (int x = png.width() - 16; x < png.width(); ++x)
      ASSERT_EQ(QColor(png.pixel(x, y)).lightness(), 255) << x << "," << y;
  QFile pdf(keep + "pdf");
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  EXPECT_TRUE(pdf.read(5) == "%PDF-");
  QFile svg(keep + "svg");
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  const QByteArray drawing = svg.readAll();
  EXPECT_TRUE(drawing.contains("<svg"));
  EXPECT_TRUE(drawing.contains("Run record of task Coating, sample S-17 WWW"));
  // The page measures what the picture did on the screen.
  const QString mm = QRegularExpression("width=\"([0-9.]+)mm\"").match(QString(drawing)).captured(1);
  EXPECT_NEAR(mm.toDouble(), 1200 * 25.4 / QGuiApplication::primaryScreen()->logicalDotsPerInch(), 1) << mm.toStdString();
  EXPECT_FALSE(w.Export("picture.bmp", error));
  EXPECT_EQ(error, "the name must end in .png, .svg or .pdf");
}

}  // namespace
