// The "Run record" window (offscreen): the picture of a run, its summary
// line, the hover text, a file that cannot be read, following the recorder.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>

#include "support/TempDir.h"
#include "app/RunRecordWindow.h"

namespace {

class RunRecordWindow : public TTempDirTest {};

TRecordRow Dip(int k, int64_t down, const char *end) {
  TRecordRow r;
  r.Task = "T";
  r.Process = "Dip";
  r.Position = "Rinse";
  r.Dip = k;
  r.Dips = 3;
  r.Mode = RecordStepByStep;
  r.Top = 1.5, r.Bottom = 2.5, r.InSpeed = 1, r.OutSpeed = 2, r.InTime = 0.2, r.OutTime = 0.2;
  r.DownAt = down, r.BottomAt = down + 1100, r.UpAt = down + 1400, r.TopAt = down + 2000;
  r.End = end;
  return r;
}

int Pixels(const QImage &img, QRgb color) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += img.pixel(x, y) == color;
  return n;
}

TEST_F(RunRecordWindow, DrawsARunAndNamesTheFailedDip) {
  TRecordRow travel;
  travel.Mode = RecordTravel, travel.Position = "Rinse", travel.DownAt = 0, travel.TopAt = 900;
  travel.End = EndDone;
  TRecordRow failed = Dip(2, 3200, EndMoveFailed);
  failed.TopAt = -1, failed.ErrorBits = 0x80;
  failed.ZReads = {{3200, 1.5}, {3700, 2.0}, {4300, 2.5}, {4600, 2.4}};
  TRecordRow end;
  end.Mode = RecordEnd, end.TopAt = 5000, end.End = EndMoveFailed;

  TRunRecordWindow w;
  w.ShowRows({travel, Dip(1, 1000, EndDone), failed, end}, "runs/2024-05-01_10-00-00_T.csv");
  w.show();
  QImage img(w.size(), QImage::Format_RGB32);
  w.render(&img);
  EXPECT_GT(Pixels(img, qRgb(0, 50, 150)), 50);  // observed strokes
  EXPECT_GT(Pixels(img, qRgb(200, 0, 0)), 50);   // the failed dip and the end
  const QString info = w.Info->text();
  EXPECT_TRUE(info.startsWith("2024-05-01_10-00-00_T.csv")) << info.toStdString();
  EXPECT_TRUE(info.contains("run ended: move failed after 5.00 s")) << info.toStdString();
  EXPECT_TRUE(info.contains("first fault: Dip dip 2 of 3: move failed")) << info.toStdString();
  const QString hover = w.Plot->TextAt(w.Plot->At(4300, 2.5).toPoint());
  EXPECT_TRUE(hover.contains("dip 2 of 3")) << hover.toStdString();
  EXPECT_TRUE(hover.contains("end: move failed (error bits 0x0080)")) << hover.toStdString();

  // A file that is no record: the rows stay, a box says why.
  Put("bad.csv", "this is not a run record\n");
  EXPECT_FALSE(w.OpenRecord("bad.csv"));
  EXPECT_EQ(w.Info->text(), info);
  auto *box = w.findChild<QMessageBox *>("RecordError");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text().startsWith("The run record \"bad.csv\" cannot be read: "))
      << box->text().toStdString();
  EXPECT_GT(box->text().size(), QString("The run record \"bad.csv\" cannot be read: ").size());
}

// The recorder's one listener is the window's only while it shows: a row
// added after it closed must not reach a window that is gone.
TEST_F(RunRecordWindow, FollowsTheRecorderWhileShown) {
  {
    TRunRecordWindow w;
    w.show();
    ASSERT_TRUE(RunRecorder().Begin("T", 0, 0));
    RunRecorder().Add(Dip(1, 0, EndStopped));
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.Info->text().contains("run in progress")) << w.Info->text().toStdString();
    EXPECT_TRUE(w.Info->text().contains("first fault: Dip dip 1 of 3: stopped"))
        << w.Info->text().toStdString();
  }
  RunRecorder().Finish(EndStopped, 0);
}

}  // namespace
