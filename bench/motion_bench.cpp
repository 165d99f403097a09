// The main window's cost while idle (the display timer sleeps while nothing
// moves and nothing changed), how soon a change made by a handler is shown,
// and the poll rate of a long move against the simulated controllers (veri-sim next
// to this program), with the window shown as in the program.
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "app/Application.h"
#include "app/FormMain.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "serial/SerialPortNG.h"
#include "veri/Params.h"
#include "veri/Transport.h"
#include "support/SimProcess.h"

namespace {

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Counts the status polls of axis 1 on their way to the port.
class TCountingPort : public IClusterPort {
public:
  explicit TCountingPort(IClusterPort *inner) : Inner(inner) {}
  long Polls = 0;
  void SendText(const std::string &text) override {
    if (text == "#1 \r") ++Polls;
    Inner->SendText(text);
  }
  int32_t NextClusterLength() override { return Inner->NextClusterLength(); }
  int32_t NextClusterCCError() override { return Inner->NextClusterCCError(); }
  std::string ReadNextClusterText() override { return Inner->ReadNextClusterText(); }
  bool WaitForCluster(uint32_t ms) override { return Inner->WaitForCluster(ms); }

private:
  IClusterPort *Inner;
};

}  // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The window reads and writes its INI files in the working folder.
  char tmpl[] = "/tmp/kv-bench-XXXXXX";
  if (!mkdtemp(tmpl) || chdir(tmpl) != 0) return 1;

  TApplication app(argc, argv);
  auto *form = new TTFormMain(true);
  form->show();
  for (int a = 1; a <= 3; ++a) Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;

  // Idle: 10 s of the event loop with the display timer running; then, to
  // see where the time goes, the timer with an empty handler and no timer.
  auto idle = [&](const char *what, int ms) {
    app.processEvents();
    const double c0 = CpuSeconds(), w0 = WallSeconds();
    QTimer::singleShot(ms, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = CpuSeconds() - c0, wall = WallSeconds() - w0;
    std::printf("%s: %.2f %%core (%.3f s CPU in %.2f s)\n", what, 100 * cpu / wall, cpu, wall);
  };
  idle("idle_cpu_window", 10000);
  {
    double sum = 0, worst = 0;
    const int n = 50;
    for (int i = 0; i < n; ++i) {
      const QString before = form->ShowXPos->text();
      double changedAt = 0;
      QTimer::singleShot(20, form, [&] {
        Axes[1].Position += 0.01;
        Axes[1].Changed = true;
        changedAt = WallSeconds();
      });
      while (form->ShowXPos->text() == before) app.processEvents(QEventLoop::WaitForMoreEvents);
      const double ms = 1000 * (WallSeconds() - changedAt);
      sum += ms;
      if (ms > worst) worst = ms;
    }
    std::printf("display_change_shown_after: %.2f ms (max %.2f)\n", sum / n, worst);
  }
  {
    const int n = 200000;
    const double c0 = CpuSeconds();
    for (int i = 0; i < n; ++i) form->ShowPosTimer();
    std::printf("showpos_tick: %.2f us\n", (CpuSeconds() - c0) / n * 1e6);
  }
  QObject::disconnect(form->ShowPos, &QTimer::timeout, nullptr, nullptr);
  QObject::connect(form->ShowPos, &QTimer::timeout, [] {});
  form->ShowPos->start();  // as the timer ran before it learnt to sleep
  idle("idle_cpu_empty_5ms_timer", 5000);
  form->ShowPos->stop();
  idle("idle_cpu_no_timer", 5000);
  QObject::disconnect(form->ShowPos, &QTimer::timeout, nullptr, nullptr);
  QObject::connect(form->ShowPos, &QTimer::timeout, form, &TTFormMain::ShowPosTimer);
  form->ShowPos->start();

  // A long move of X against the simulated controllers.
  TSimProcess sim;  // the simulated controllers of this build
  const std::string slave = sim.SlavePath;
  if (!sim.Started()) {
    std::printf("error: veri-sim did not start (build it next to this program)\n");
  } else {
    TSerialPortNG port;
    port.SetCommPort(slave);
    port.SetBaudRate(19200);
    port.SetRTOCharDelayTime(570);  // as the program's port
    port.SetWTOCharDelayTime(570);
    port.ThreadQuietMode = true;
    port.SetActive(true);
    TCountingPort counting(&port);
    VeriPort() = &counting;
    VERIDialog(1, "P134=7");
    // With the port as the program sets it, then with a short cluster close
    // time to show what the move loop itself can do.
    for (int extra : {int(port.RTOExtraDelayTime()), 10}) {
      port.SetRTOExtraDelayTime(uint16_t(extra));
      VERIGetPosition(1);
      const double from = Axes[1].Position, to = from < 6 ? from + 10 : from - 10;
      counting.Polls = 0;
      bool ok = false;
      const double c0 = CpuSeconds(), w0 = WallSeconds();
      MoveTo(1, ok, 2, to);  // 10 cm at 2 cm/s: about 5 s
      const double cpu = CpuSeconds() - c0, wall = WallSeconds() - w0;
      std::printf("move_poll_rate_cut_%dms: %.1f cycles/s (ok %d, %.2f s, %ld polls, %.2f %%core)\n", extra,
                  counting.Polls / wall, ok ? 1 : 0, wall, counting.Polls, 100 * cpu / wall);
    }
    VeriPort() = nullptr;
    port.SetActive(false);
  }
  delete form;
  std::string cleanup = std::string("rm -rf '") + tmpl + "'";
  if (std::system(cleanup.c_str()) != 0) {}
  return 0;
}
