// The task buttons and the wait bar on the main window (offscreen).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/FormMain.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "tasks/Process.h"

namespace {

struct TControls {
  bool Start, Stop, Task, Process, Check;
};

TControls Read(TTFormMain &f) {
  return {f.TaskStart->isEnabled(), f.TaskStop->isEnabled(), f.GroupBoxTask->isEnabled(),
          f.GroupBoxProcess->isEnabled(), f.CheckSyntax->isEnabled()};
}

TEST(FormTask, RunLocksTheWindowUntilItHasUnwound) {
  ResetMachineDefaults();
  ResetDefinitions();
  SetOpState(Idle);
  AbortRequest = StopRequest = false;
  TTFormMain form(false);
  THostFixture host;
  TSimLinePort port;
  for (int a = 1; a <= 3; ++a) port.Ctl(a).MotorOn = true, Axes[a].Position = 1;
  AppendPosition({"P", 2, 2});
  TProcEntry e;
  e.Name = "A";
  e.PosNo = 1;
  e.InSpeed = e.OutSpeed = 2;
  e.UpperPos = 2;
  e.LowPos = 3;
  e.InTime = 6;  // long enough for the bar
  e.OutTime = 0.1;
  e.NoTunks = 2;
  AppendProcess(e);
  AppendTask({"T", "A"});
  CurTask = 1;

  std::vector<TControls> seen;
  std::string label;
  int barMax = 0;
  host.Clock.OnSleep = [&] {
    if (form.WaitBar->isVisibleTo(&form) && label.empty()) {
      label = form.WaitLabel->text().toStdString();
      barMax = form.WaitBar->maximum();
      seen.push_back(Read(form));
      form.TaskStopClick();
      seen.push_back(Read(form));
    }
  };
  form.TaskStartClick();
  seen.push_back(Read(form));

  EXPECT_EQ(label, "Wait 6sec");
  EXPECT_EQ(barMax, 60);
  EXPECT_FALSE(form.WaitBar->isVisibleTo(&form));
  EXPECT_FALSE(form.WaitLabel->isVisibleTo(&form));
  ASSERT_EQ(seen.size(), 3u);
  // Running: only STOP.
  EXPECT_FALSE(seen[0].Start);
  EXPECT_TRUE(seen[0].Stop);
  EXPECT_FALSE(seen[0].Task || seen[0].Process || seen[0].Check);
  // Unwinding: nothing, not even STOP again.
  EXPECT_FALSE(seen[1].Start || seen[1].Stop || seen[1].Task || seen[1].Process || seen[1].Check);
  // Over: everything back, STOP grey.
  EXPECT_TRUE(seen[2].Start && seen[2].Task && seen[2].Process && seen[2].Check);
  EXPECT_FALSE(seen[2].Stop);
  EXPECT_EQ(host.Report.Lines.back(), "-- End Task ---.");
  EXPECT_TRUE(host.Report.Has("Stop Execution"));
  EXPECT_FALSE(host.Report.Has("  Fast Dip 2 of 2"));
  EXPECT_EQ(OpState(), Idle);
}

}  // namespace

// Closing the window (close box, Exit, SIGTERM) in the middle of a run acts
// as STOP and closes only once the run has unwound.
TEST(FormTask, CloseDuringARunStopsItAndClosesWhenIdle) {
  SetOpState(Idle);
  AbortRequest = StopRequest = false;
  TTFormMain form(false);
  form.show();
  {
    TBusyGuard run(TaskRunning);
    ASSERT_TRUE(run.Entered());
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(StopRequest);
    EXPECT_TRUE(AbortRequest);
    EXPECT_EQ(OpState(), Unwinding);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.isVisible());  // still unwinding
  }
  EXPECT_EQ(OpState(), Idle);
  QCoreApplication::processEvents();
  EXPECT_FALSE(form.isVisible());
  AbortRequest = StopRequest = false;
}
