#include <gtest/gtest.h>

#include <stdexcept>

#include "base/OpState.h"

namespace {

TEST(OpState, GuardEntersRestoresAndRefuses) {
  ASSERT_EQ(OpState(), Idle);
  int changes = 0;
  SetOpStateListener([&] { ++changes; });
  {
    TBusyGuard run(TaskRunning);
    EXPECT_TRUE(run.Entered());
    EXPECT_EQ(OpState(), TaskRunning);
    {
      // A second Start inside the run is refused and changes nothing.
      TBusyGuard again(TaskRunning);
      EXPECT_FALSE(again.Entered());
      TBusyGuard jog(Moving);
      EXPECT_FALSE(jog.Entered());
      EXPECT_EQ(OpState(), TaskRunning);
    }
    EXPECT_EQ(OpState(), TaskRunning);
    // The run's own moves may enter from the run.
    {
      TBusyGuard move(Moving, {TaskRunning, Unwinding});
      EXPECT_TRUE(move.Entered());
      EXPECT_EQ(OpState(), Moving);
    }
    EXPECT_EQ(OpState(), TaskRunning);
    SetOpState(Unwinding);  // STOP
  }
  // The run's scope ends: back to what it started from, not to Unwinding.
  EXPECT_EQ(OpState(), Idle);
  EXPECT_EQ(changes, 5);

  // Nested jogs while a jog runs.
  {
    TBusyGuard jog(Moving);
    TBusyGuard nested(Moving, {Idle, Moving});
    EXPECT_TRUE(jog.Entered());
    EXPECT_TRUE(nested.Entered());
  }
  EXPECT_EQ(OpState(), Idle);
  SetOpStateListener(nullptr);
}

TEST(OpState, ErrorLeavingTheScopeRestoresTheState) {
  // A conversion error ending a handler must not leave the panels locked.
  try {
    TBusyGuard ref(Referencing);
    ASSERT_EQ(OpState(), Referencing);
    throw std::runtime_error("'x' is not a valid floating point value");
  } catch (const std::runtime_error &) {
  }
  EXPECT_EQ(OpState(), Idle);
  EXPECT_STREQ(OpStateName(Unwinding), "Unwinding");
}

}  // namespace
