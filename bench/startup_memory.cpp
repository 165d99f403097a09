// Start-up time to the window shown, and resident memory after start and
// after a 200-dip task. The task runs against the in-process simulated
// controllers on a fake clock, so its waits cost nothing; the report log is
// the window's own, as in the program.
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "app/Application.h"
#include "app/FormMain.h"
#include "app/ReportWindow.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "tasks/TaskRun.h"

namespace {
double ResidentMiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}
}  // namespace

int main(int argc, char **argv) {
  const auto t0 = std::chrono::steady_clock::now();
  char tmpl[] = "/tmp/kvbench-start-XXXXXX";
  if (!mkdtemp(tmpl) || chdir(tmpl) != 0) return 1;
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ResetMachineDefaults();
  TApplication app(argc, argv);
  auto *form = new TTFormMain();
  form->CreateDialogs();
  form->show();
  while (!form->windowHandle() || !form->windowHandle()->isExposed()) app.processEvents();
  app.processEvents();
  const double startMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("startup_to_window: %.0f ms\n", startMs);
  std::printf("rss_after_start: %.1f MiB\n", ResidentMiB());

  TFakeClock clock;
  Host().Clock = &clock;
  // Start's sample question answered at once: the bench runs unattended.
  TFakeOperator answers;
  IOperator *const asking = Host().Operator;
  Host().Operator = &answers;
  {
    TSimLinePort line;
    for (int a = 1; a <= 3; ++a) line.Ctl(a).MotorOn = true;
    AppendPosition({"Bath", 2, 2});
    TProcEntry e;
    e.Name = "Dip";
    e.PosNo = 1;
    e.InSpeed = e.OutSpeed = 2;
    e.UpperPos = 2, e.LowPos = 4;
    e.InTime = 1, e.OutTime = 1;
    e.NoTunks = 200;
    AppendProcess(e);
    AppendTask({"Soak", "Dip"});
    CurTask = TaskCount;
    TaskStart();
    app.processEvents();
  }
  std::printf("rss_after_200_dips: %.1f MiB\n", ResidentMiB());
  std::printf("report_lines_after_200_dips: %d lines\n", form->ReportWindow->LineCount());
  Host().Clock = form;
  Host().Operator = asking;
  delete form;
  std::system((std::string("rm -rf '") + tmpl + "'").c_str());
  return 0;
}
