// The Connect button on the main window, against in-process controllers.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>

#include "app/FormMain.h"
#include "base/Machine.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"

TEST(ConnectButton, EnablesJogPadHidesBarAndTurnsCaptionBlack) {
  ResetMachineDefaults();
  TTFormMain form(false);
  THostFixture host(1);
  TSimLinePort line;
  for (int a = 1; a <= 3; ++a) {
    line.Ctl(a).RefState = 1;
    line.Ctl(a).MotorOn = true;
  }
  int maxShown = 0;
  host.Events.OnPump = [&] {
    if (form.ProgressBar1->isVisibleTo(&form)) maxShown = std::max(maxShown, form.ProgressBar1->value());
  };
  EXPECT_FALSE(form.GroupBoxManualMove->isEnabled());
  form.ConnectButton->click();
  EXPECT_TRUE(form.GroupBoxManualMove->isEnabled());
  EXPECT_TRUE(form.IsConnected());
  EXPECT_FALSE(form.ProgressBar1->isVisibleTo(&form));
  EXPECT_EQ(form.ProgressBar1->value(), 95);
  EXPECT_EQ(form.ConnectButton->palette().color(QPalette::ButtonText), QColor(Qt::black));
  EXPECT_EQ(maxShown, 0);  // the one pump comes right after the bar is shown at 0
  ResetMachineDefaults();
}

TEST(ConnectButton, NoControllerLeavesJogPadDisabled) {
  ResetMachineDefaults();
  TTFormMain form(false);
  THostFixture host(1);
  TSimLinePort line;
  line.Control("mute all");
  host.Operator.Answers = {mbIgnore};
  form.ConnectButton->click();
  EXPECT_FALSE(form.GroupBoxManualMove->isEnabled());
  EXPECT_FALSE(form.ProgressBar1->isVisibleTo(&form));
  ASSERT_EQ(host.Operator.Asked.size(), 2u);
  EXPECT_EQ(host.Operator.Asked[1].Text,
            "WARNING! You continue without confirmation of serial connection to hardware!");
  ResetMachineDefaults();
}
