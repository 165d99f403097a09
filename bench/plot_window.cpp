// Does the "Run record" window lengthen a dip? The same process of dips runs
// against the paced simulator twice, without and with the window open and
// following the run (offscreen, its live timer drawing), and the holds the
// record measured are compared. Then what one picture of a 100-dip run
// costs the window's thread.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "BenchLine.h"
#include "app/RunRecordPlot.h"
#include "app/RunRecordWindow.h"
#include "base/Host.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"

namespace {

// The run's event processing, timed: what the window costs a dip is what
// it adds to these calls.
class TPump : public IEventPump {
public:
  double Longest = 0, Total = 0;
  long Calls = 0;
  void ProcessMessages() override {
    QElapsedTimer t;
    t.start();
    QCoreApplication::processEvents();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    Longest = std::max(Longest, ms);
    Total += ms;
    ++Calls;
  }
  void Reset() { Longest = Total = 0, Calls = 0; }
};

struct THolds {
  std::vector<double> Bottom, Top;
};

double Mean(const std::vector<double> &v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / double(v.size());
}
double Max(const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

THolds RunDips(int dips, uint16_t &error) {
  RunRecorder().Begin("Bench", std::time(nullptr), 0);
  error = 0;
  RunProcess("Bench", 2, 1, error, 1);
  RunRecorder().Finish(error ? EndError : EndDone, error);
  THolds h;
  for (const TRecordRow &r : RunRecorder().Rows()) {
    if (r.Mode != RecordStepByStep) continue;
    if (r.HeldBottom >= 0) h.Bottom.push_back(double(r.HeldBottom));
    if (r.HeldTop >= 0) h.Top.push_back(double(r.HeldTop));
  }
  (void)dips;
  return h;
}

// A 100-dip run as the recorder would have it, for the picture's cost.
std::vector<TRecordRow> HundredDips() {
  std::vector<TRecordRow> rows;
  int64_t t = 8000;
  for (int k = 1; k <= 100; ++k) {
    TRecordRow r;
    r.Task = "Bench", r.Process = "Bench", r.Position = "Bench", r.Mode = RecordStepByStep;
    r.Dip = k, r.Dips = 100, r.Top = 1, r.Bottom = 2, r.InSpeed = r.OutSpeed = 2, r.InTime = 1,
    r.OutTime = 0.5;
    r.DownAt = t, r.BottomAt = t + 800, r.UpAt = t + 2400, r.TopAt = t + 3200;
    r.HeldBottom = 1600, r.HeldTop = 900, r.Withdrawal = 2, r.End = EndDone;
    for (int64_t s = t; s <= r.TopAt + 900; s += 90) r.ZReads.push_back({s, s < r.BottomAt ? 1.5 : 2.0});
    rows.push_back(r);
    t = r.TopAt + 900;
  }
  return rows;
}

}  // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  TSimProcess sim;
  TSerialPortNG port;
  // Fast replies: the holds then vary by a few ms, not by the cut rule's.
  if (!OpenBenchPort(port, sim, true, "plot_window")) return 1;
  sim.Control("speedup 10");  // short strokes: more dips, the same waits
  TPump pump;
  Host().Events = &pump;
  BenchMotorsOn();
  const int dips = 8;
  AppendBenchProcess(dips);

  uint16_t error1 = 0, error2 = 0;
  const THolds without = RunDips(dips, error1);
  const TPump before = pump;
  pump.Reset();
  THolds with;
  {
    TRunRecordWindow w;
    w.show();
    with = RunDips(dips, error2);
  }
  std::printf("plot_window_event_processing_without: longest %.2f ms, %.0f ms in %ld calls\n", before.Longest,
              before.Total, before.Calls);
  std::printf("plot_window_event_processing_with: longest %.2f ms, %.0f ms in %ld calls\n", pump.Longest,
              pump.Total, pump.Calls);
  std::printf("plot_window_hold_bottom_without: %.1f ms (max %.0f, %zu dips, error word %u)\n",
              Mean(without.Bottom), Max(without.Bottom), without.Bottom.size(), error1);
  std::printf("plot_window_hold_bottom_with: %.1f ms (max %.0f, %zu dips, error word %u)\n",
              Mean(with.Bottom), Max(with.Bottom), with.Bottom.size(), error2);
  std::printf("plot_window_hold_top_without: %.1f ms (max %.0f)\n", Mean(without.Top), Max(without.Top));
  std::printf("plot_window_hold_top_with: %.1f ms (max %.0f)\n", Mean(with.Top), Max(with.Top));
  std::printf("plot_window_holds_lengthened_by: %.1f ms bottom, %.1f ms top (means; goal within 5)\n",
              Mean(with.Bottom) - Mean(without.Bottom), Mean(with.Top) - Mean(without.Top));

  // One picture of a 100-dip run: the rows onto the chart, then the paint.
  {
    const std::vector<TRecordRow> rows = HundredDips();
    TRunRecordWindow w;
    w.resize(1000, 700);
    w.show();
    QElapsedTimer t;
    t.start();
    w.ShowRows(rows, "runs/bench.csv");
    const double fill = double(t.nsecsElapsed()) / 1e6;
    double paint = 0;
    const int n = 10;
    for (int i = 0; i < n; ++i) {
      t.restart();
      (void)w.RunView->grab();
      paint += double(t.nsecsElapsed()) / 1e6;
    }
    // A live tick with a dip more: the new row onto the chart.
    std::vector<TRecordRow> more = rows;
    more.push_back(rows.back());
    more.back().DownAt += 5000;
    w.ShowRows(more, "runs/bench.csv");
    t.restart();
    w.Run->Update(more, nullptr);
    const double tick = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    w.Tabs->setCurrentWidget(w.OverlayView);
    const double overlay = double(t.nsecsElapsed()) / 1e6;
    std::printf(
        "plot_window_100_dips: %.1f ms to fill, %.1f ms a picture, %.2f ms a tick with a dip more, "
        "%.1f ms for the overlay (%d points)\n",
        fill, paint / n, tick, overlay, w.Run->Points());
  }
  Host().Events = nullptr;
  VeriPort() = nullptr;
  port.SetActive(false);
  return 0;
}
