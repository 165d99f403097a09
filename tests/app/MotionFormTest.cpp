// The jog pad of the main window (offscreen).
#include <gtest/gtest.h>

#include <algorithm>

#include <QPushButton>

#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "app/FormMain.h"
#include "app/OpState.h"
#include "machine/Machine.h"
#include "machine/Motion.h"

namespace {

class MotionForm : public ::testing::Test {
protected:
  void SetUp() override {
    ResetMachineDefaults();
    StopRequest = false;
    SetOpState(Idle);
  }
  void TearDown() override { SetOpState(Idle); }
};

TEST_F(MotionForm, JogButtonsEnableStopWhileMoving) {
  TTFormMain form(false);
  THostFixture host;
  TSimLinePort line;
  for (int a = 1; a <= 3; ++a) {
    Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
    line.Ctl(a).MotorOn = true;
  }
  form.SetConnected(true);
  std::vector<bool> stopEnabled;
  host.Events.OnPump = [&] {
    stopEnabled.push_back(form.ManualStop->isEnabled());
    if (host.Events.Pumps == 4) form.ManualStop->click();
  };
  form.ZPlus->click();
  ASSERT_GE(stopEnabled.size(), 4u);
  EXPECT_TRUE(stopEnabled[0]);
  EXPECT_FALSE(form.ManualStop->isEnabled());
  const std::vector<std::string> sent = line.Commands(3);
  EXPECT_EQ(sent[0], "V=1200.0000 WA=250.0000 E");
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "S"), 1);
  EXPECT_FALSE(Axes[3].Moving);

  // During a task run the pad does nothing.
  line.Sent.clear();
  SetOpState(TaskRunning);
  form.XPlusClick();
  form.HomePosClick();
  EXPECT_TRUE(line.Sent.empty());
}

}  // namespace
