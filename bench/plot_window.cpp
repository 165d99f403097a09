// Does the "Run record" window lengthen a dip? The same process of dips runs
// against the paced simulator twice, without and with the window open and
// following the run (offscreen, its live timer drawing), and the holds the
// record measured are compared. Then what one picture of a 100-dip run
// costs the window's thread. Then a night's run: 20 000 dips fed to the
// recorder on a fake clock, with the window closed and open: the window's
// longest tick and the resident memory at 1 000, 10 000 and 20 000 dips;
// and a record of 5 000 dips read, opened, zoomed and exported, and the
// whole night's record read.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTabWidget>
#include <algorithm>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchLine.h"
#include "app/RunRecordPlot.h"
#include "app/RunRecordWindow.h"
#include "base/Host.h"
#include "support/Fakes.h"
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

double ResidentMiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double Since(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }
// CPU time of this thread, ms: what the window costs without the waits of
// a machine shared with other work.
double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// A copy of the record's first `dips` dips beside it, with the reads
// written up to its last row: a record as that shorter run left it.
std::string FirstDips(const std::string &path, int dips) {
  const std::string cut = path.substr(0, path.size() - 4) + "-first.csv";
  std::ifstream in(path), reads(RunReadsPath(path));
  std::ofstream out(cut), outReads(RunReadsPath(cut));
  std::string line;
  int64_t last = 0;
  for (int n = 0; n < dips && std::getline(in, line);) {
    out << line << '\n';
    TRecordRow r;
    if (ParseRecordRow(line, r) && r.Mode != RecordEvent) last = r.WrittenAt, n += r.Mode == RecordStepByStep;
  }
  for (bool head = true; std::getline(reads, line); head = false)
    if (head || std::atoll(line.c_str()) <= last) outReads << line << '\n';
  return cut;
}

// What the rows read hold: rows, reads and the bytes of both.
std::string Held(const std::vector<TRecordRow> &rows) {
  size_t reads = 0;
  for (const TRecordRow &r : rows) reads += r.ZReads.size();
  char b[128];
  std::snprintf(b, sizeof b, "%zu rows, %zu reads, %.1f MiB of rows and reads", rows.size(), reads,
                double(rows.size() * sizeof(TRecordRow) + reads * sizeof(TReading)) / (1024.0 * 1024.0));
  return b;
}

// One dip of the night's run as the dip cycle records it: a read every
// 37 ms (27 a second), 1 s strokes between 2 and 5 cm, holds of 1.2 s,
// four event rows; a travel row before every 20 dips.
void NightDip(TFakeClock &clock, int k, int dips, const std::function<void()> &tick) {
  TRunRecorder &rec = RunRecorder();
  if (k % 20 == 1) {
    TRecordRow t;
    t.Task = "Night", t.Process = "Coat", t.Position = "Beaker", t.Mode = RecordTravel, t.X = 8, t.Y = 6;
    t.Top = 2, t.DownAt = rec.Now();
    clock.Now += 1500;
    t.TopAt = rec.Now(), t.End = EndDone;
    rec.Add(t);
  }
  TRecordRow r;
  r.Task = "Night", r.Process = "Coat", r.Position = "Beaker", r.Mode = RecordStepByStep;
  r.Dip = (k - 1) % 20 + 1, r.Dips = 20, r.Top = 2, r.Bottom = 5, r.InSpeed = r.OutSpeed = 3;
  r.InTime = r.OutTime = 1.2, r.InDriven = r.OutDriven = 3;
  const int64_t t0 = rec.Now();
  r.DownAt = t0, r.BottomAt = t0 + 1000, r.UpAt = t0 + 2200, r.TopAt = t0 + 3200;
  rec.Event("Coat dip " + std::to_string(k) + ": down stroke begins");
  for (int64_t t = 0; t < 4400; t += 37) {
    clock.Now += 37;
    const double z = t < 1000 ? 2 + 3 * t / 1000.0 : t < 2200 ? 5 : t < 3200 ? 5 - 3 * (t - 2200) / 1000.0 : 2;
    rec.NoteRead(3, z);
    if (t == 999 || t == 2183 || t == 3182) rec.Event("Coat dip " + std::to_string(k) + ": stroke ends");
    tick();
  }
  r.HeldBottom = 1200, r.HeldTop = 1200, r.Withdrawal = 3, r.Outputs = "1=1@" + std::to_string(t0);
  r.ZReads = rec.LiveZ();
  r.End = EndDone;
  rec.Add(r);
  (void)dips;
}

// The night's run in a process of its own (its memory is its own); prints
// a line per mark.
void NightRun(int argc, char **argv, bool open, int dips) {
  char tmpl[] = "/tmp/kvbench-night-XXXXXX";
  if (!mkdtemp(tmpl) || chdir(tmpl) != 0) return;
  QApplication app(argc, argv);
  TFakeClock clock;
  Host().Clock = &clock;
  std::unique_ptr<TRunRecordWindow> w;
  if (open) {
    w = std::make_unique<TRunRecordWindow>();
    w->resize(1000, 700);
    w->show();
    QCoreApplication::processEvents();
  }
  RunRecorder().Begin("Night", std::time(nullptr), clock.Now);
  const int marks[] = {1000, 10000, 20000};
  double longest = 0, total = 0, longestCpu = 0, draw = 0;
  long ticks = 0;
  uint32_t next = clock.Now + 1000;
  int k = 0;
  // The live timer's tick: once a second of the run near each mark, once
  // every 25 dips between them (a tick then has 25 dips of news).
  auto tick = [&] {
    if (!w || clock.Now < next) return;
    bool nearMark = false;
    for (int m : marks) nearMark = nearMark || (k > m - 20 && k <= m);
    next = clock.Now + (nearMark ? 1000 : 25 * 4400);
    QElapsedTimer t;
    t.start();
    const double cpu = ThreadCpuMs();
    w->DrawNews();
    draw = std::max(draw, Since(t));
    QCoreApplication::processEvents();  // the paint
    const double ms = Since(t);
    longest = std::max(longest, ms), total += ms, ++ticks;
    if (ms > 300 && getenv("KV_BENCH_PROBE")) {
      for (QAbstractSeries *x : w->RunView->chart()->series()) {
        x->setVisible(false);
        QElapsedTimer g;
        g.start();
        (void)w->RunView->grab();
        std::fprintf(stderr, "without %s: %.1f ms\n", qPrintable(x->name()), Since(g));
        x->setVisible(true);
      }
      std::exit(0);
    }
    if (ms > 40 && getenv("KV_BENCH_SLOW"))
      std::fprintf(stderr, "slow tick at dip %d: %.1f ms, draw %.1f ms\n", k, ms, draw);
    longestCpu = std::max(longestCpu, ThreadCpuMs() - cpu);
  };
  QElapsedTimer all;
  all.start();
  for (k = 1; k <= dips; ++k) {
    NightDip(clock, k, dips, tick);
    for (int m : marks)
      if (k == m) {
        std::printf("plot_window_night_%s_%d_dips: %.1f MiB resident", open ? "open" : "closed", k, ResidentMiB());
        if (open)
          std::printf(", longest tick %.1f ms (CPU %.1f ms, new points %.1f ms; %ld ticks, mean %.1f ms)", longest,
                      longestCpu, draw, ticks, total / double(ticks));
        std::printf(", %.0f s to run\n", Since(all) / 1000);
        std::fflush(stdout);
        longest = total = longestCpu = draw = 0, ticks = 0;
      }
  }
  RunRecorder().Finish(EndDone, 0);
  const std::string whole = RunRecorder().Path();
  const std::string first = FirstDips(whole, 5000);
  // The record of the first 5 000 dips as a past run: read, open, paint,
  // zoom, export; then the whole night's record read.
  std::vector<TRecordRow> rows;
  std::string error;
  QElapsedTimer t;
  t.start();
  if (!ReadRunRecord(first, rows, error)) std::printf("plot_window: %s: %s\n", first.c_str(), error.c_str());
  const double read = Since(t);
  std::printf("plot_window_%s_5000_dips_record: %.0f ms to read (%s)\n", open ? "open" : "closed", read,
              Held(rows).c_str());
  std::fflush(stdout);
  if (open) {
    t.restart();
    w->ShowRows(std::move(rows), "runs/night.csv");
    QCoreApplication::processEvents();
    (void)w->RunView->grab();
    const double show = Since(t);
    t.restart();
    QString kept;
    if (getenv("KV_BENCH_KEEP")) w->Export("/tmp/night-whole.png", kept);
    w->RunView->ZoomBy(0.25, QPointF(500, 300));
    (void)w->RunView->grab();
    const double zoom = Since(t);
    t.restart();
    w->Tabs->setCurrentWidget(w->OverlayView);
    (void)w->OverlayView->grab();
    const double overlay = Since(t);
    QString why;
    t.restart();
    w->Export("night.png", why);
    const double png = Since(t);
    t.restart();
    w->Export("night.pdf", why);
    const double pdf = Since(t);
    std::printf("plot_window_5000_dips_record: %.0f ms to read, %.0f ms to show and paint, %.0f ms a zoom, "
                "%.0f ms the overlay, export %.0f ms PNG, %.0f ms PDF (%.1f MB)\n",
                read, show, zoom, overlay, png, pdf, double(QFileInfo("night.pdf").size()) / 1e6);
  }
  rows.clear();
  rows.shrink_to_fit();
  if (dips > 5000) {
    const double before = ResidentMiB();
    t.restart();
    ReadRunRecord(whole, rows, error);
    const double all = Since(t);
    std::printf("plot_window_%s_%d_dips_record: %.0f ms to read (%s), %.1f MiB resident before, %.1f MiB after\n",
                open ? "open" : "closed", dips, all, Held(rows).c_str(), before, ResidentMiB());
  }
  w.reset();
  Host().Clock = nullptr;
  std::system((std::string("rm -rf '") + tmpl + "'").c_str());
}

}  // namespace

int main(int argc, char **argv) {
  // --night N: only the night's run, to N dips.
  if (argc >= 3 && std::string(argv[1]) == "--night") {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int dips = std::atoi(argv[2]);
    for (bool open : {false, true}) {
      if (argc >= 4 && std::string(argv[3]) != (open ? "open" : "closed")) continue;
      if (fork() == 0) {
        NightRun(argc, argv, open, dips);
        std::fflush(stdout);
        _exit(0);
      }
      wait(nullptr);
    }
    return 0;
  }
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
  std::fflush(stdout);
  // The night's run, each case in a process of its own.
  return std::system((std::string("'") + argv[0] + "' --night 20000").c_str()) == 0 ? 0 : 1;
}
