// Closing the window (close box, Exit, SIGTERM) in the middle of a run acts
// as STOP and closes only once the run has unwound.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "app/FormMain.h"
#include "base/OpState.h"
#include "machine/Motion.h"
#include "tasks/Process.h"

TEST(FormTask, CloseDuringARunStopsItAndClosesWhenIdle) {
  SetOpState(Idle);
  AbortRequest = StopRequest = false;
  TTFormMain form(false);
  form.show();
  {
    TBusyGuard run(TaskRunning);
    ASSERT_TRUE(run.Entered());
    EXPECT_FALSE(form.close());
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
