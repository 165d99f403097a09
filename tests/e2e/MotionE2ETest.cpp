// Moves over a real serial port against build/veri-sim, in real time.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "support/Fakes.h"
#include "support/SimProcess.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "serial/SerialPortNG.h"
#include "veri/Transport.h"

namespace {

using Clock = std::chrono::steady_clock;

class MotionE2E : public ::testing::Test {
protected:
  THostFixture Host;
  TSimLine Line;

  void SetUp() override {
    ASSERT_TRUE(Line.Open());
    ResetMachineDefaults();
    StopRequest = false;
    SetOpState(Idle);
    VERIDialog(1, "P134=7");
    Axes[1].Position = 1;  // the simulator starts at 10 mm
    Axes[1].Connected = Axes[1].MotorOn = Axes[1].Referenced = true;
  }
};

TEST_F(MotionE2E, MutedControllerEndsTheMoveAndTheProgramGoesOn) {
  const auto start = Clock::now();
  Clock::time_point muted{};
  Host.Events.OnPump = [&] {
    if (muted == Clock::time_point{} && Clock::now() - start > std::chrono::milliseconds(300)) {
      Line.Sim.Control("mute 1");
      muted = Clock::now();
    }
  };
  bool ok = true;
  MoveTo(1, ok, 2, 20);  // would take 9.5 s
  EXPECT_FALSE(ok);
  EXPECT_FALSE(Axes[1].Moving);
  EXPECT_EQ(Axes[1].Speed, 0);
  EXPECT_LT(Axes[1].Position, 10);
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [1] stopped")) << Host.Report.Joined();

  // Plugged in again, the next move works.
  Host.Events.OnPump = nullptr;
  Line.Sim.Control("unmute 1");
  MoveTo(1, ok, 2, 1.5);
  EXPECT_TRUE(ok);
  EXPECT_NEAR(Axes[1].Position, 1.5, 1e-6);
}

}  // namespace
