#include <gtest/gtest.h>

#include "base/Machine.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "veri/Connection.h"
#include "veri/Outputs.h"
#include "veri/Params.h"

namespace {

class TView : public IConnectionView {
public:
  std::vector<int> Positions;
  int Enabled = 0, Done = 0;
  void SetProgress(int position) override { Positions.push_back(position); }
  void EnableManualMove() override { ++Enabled; }
  void Finished() override { ++Done; }
};

struct ConnectionTest : ::testing::Test {
  THostFixture Host{1};
  TSimLinePort Line;
  TView View;
  IConnectionView *Saved;
  ConnectionTest() {
    ResetMachineDefaults();
    Saved = SetConnectionView(&View);
  }
  ~ConnectionTest() override {
    SetConnectionView(Saved);
    ResetMachineDefaults();
  }
  void Ready(int a) {
    Line.Ctl(a).RefState = 1;
    Line.Ctl(a).MotorOn = true;
  }
  std::vector<std::string> Questions() const {
    std::vector<std::string> q;
    for (auto &a : Host.Operator.Asked) q.push_back(a.Text.substr(0, 12));
    return q;
  }
};

}  // namespace

TEST_F(ConnectionTest, ReadyMachineAsksNothing) {
  for (int a = 1; a <= 3; ++a) Ready(a);
  Line.Ctl(2).Position = 123;
  VERICheckConnection();
  EXPECT_TRUE(Host.Operator.Asked.empty());
  EXPECT_EQ(View.Enabled, 1);
  EXPECT_EQ(View.Done, 1);
  EXPECT_EQ(View.Positions.back(), 95);
  EXPECT_DOUBLE_EQ(Axes[2].Position, 12.3);
  EXPECT_EQ(Host.Report.Lines,
            (std::vector<std::string>{"Axis 1: ", "VERI Software Version: VERISIM_1.0 ", " (+) referenced.",
                                      " (+) power ON.", "Axis 2: ", "VERI Software Version: VERISIM_1.0 ",
                                      " (+) referenced.", " (+) power ON.", "Axis 3: ",
                                      "VERI Software Version: VERISIM_1.0 ", " (+) referenced.",
                                      " (+) power ON."}));
}

TEST_F(ConnectionTest, StopSwitchValues) {
  // Bit 2 of P1013 decides; the whole-number part is taken.
  struct { double In; bool Pressed; } cases[] = {{4, false}, {5, false}, {6, false}, {7, false}, {12, false},
                                                 {0, true},  {1, true},  {2, true},  {3, true},  {8, true},
                                                 {4.9, false}, {3.9, true},
                                                 // Beyond 64 bits: no bit to read (was undefined behaviour).
                                                 {1e25, true}, {-1e25, true}};
  for (auto c : cases) {
    ResetMachineDefaults();
    NMotors = 2;
    Ready(1);
    Ready(3);
    Line.Ctl(1).Params[1013] = c.In;
    Line.Ctl(3).Params[1013] = 4;
    Host.Operator.Asked.clear();
    Host.Operator.Answers = {mbIgnore};
    VERICheckConnection();
    EXPECT_EQ(Axes[1].StopActive, c.Pressed) << c.In;
    EXPECT_EQ(Host.Operator.Asked.size(), c.Pressed ? 1u : 0u) << c.In;
  }
}

TEST_F(ConnectionTest, RetryNestsAFullRunAndOuterKeepsItsFindings) {
  NMotors = 2;
  Ready(1);
  Line.Control("mute 3");
  // First box: Retry. The nested run finds both (controller plugged in
  // meanwhile) and asks nothing; the outer run asks nothing more either:
  // its own findings of axis 3 were "not connected", which asks nothing else.
  Host.Operator.Answers = {mbRetry};
  Host.Events.OnPump = [&] {
    if (Host.Operator.Asked.size() == 1) Line.Control("unmute 3");
  };
  Line.Ctl(3).RefState = 1;
  Line.Ctl(3).MotorOn = true;
  VERICheckConnection();
  EXPECT_EQ(Host.Operator.Asked.size(), 1u);
  EXPECT_EQ(View.Enabled, 1);
  EXPECT_EQ(View.Done, 2);
  EXPECT_TRUE(Axes[3].Connected);
}

TEST_F(ConnectionTest, QuestionsInOrderWithTheirActions) {
  NMotors = 2;
  Line.Ctl(3).Params[1013] = 0;  // stop pressed on Z
  // Retry/Ignore does not come (all answer); motors: Yes; STOP: OK nests a
  // run (motors on by now; STOP: Ignore, reference: No); reference: Yes.
  Host.Operator.Answers = {mbYes, mbOK, mbIgnore, mbNo, mbYes};
  VERICheckConnection();
  EXPECT_EQ(Questions(), (std::vector<std::string>{"At least one", "STOP switch ", "STOP switch ",
                                                   "At least one", "At least one"}));
  ASSERT_EQ(Host.Operator.Asked.size(), 5u);
  EXPECT_EQ(Host.Operator.Asked[0].Buttons, unsigned(mbYes | mbNo));
  EXPECT_EQ(Host.Operator.Asked[1].Buttons, unsigned(mbOK | mbIgnore));
  // The nested run found the motors on already (first Yes switched them).
  EXPECT_TRUE(Axes[1].MotorOn && Axes[3].MotorOn);
  EXPECT_TRUE(Axes[1].Referenced && Axes[3].Referenced);
  EXPECT_EQ(Line.Ctl(1).RefState, 1);
}

TEST_F(ConnectionTest, FailedReferenceReadIsNotReferenced) {
  NMotors = 2;
  Ready(1);
  Ready(3);
  // Z answers its version, then falls silent.
  Host.Clock.OnSleep = [&] {
    if (!Line.Sent.empty() && Line.Sent.back() == "#3 VER\r") Line.Control("mute 3");
  };
  Host.Operator.Answers = {mbNo, mbIgnore, mbNo};
  VERICheckConnection();
  EXPECT_TRUE(Axes[3].Connected);
  EXPECT_FALSE(Axes[3].Referenced);
  EXPECT_FALSE(Axes[3].MotorOn);
  EXPECT_TRUE(Axes[3].StopActive);
  EXPECT_TRUE(Axes[1].Referenced);
  EXPECT_EQ(Questions(), (std::vector<std::string>{"At least one", "STOP switch ", "At least one"}));
}

TEST_F(ConnectionTest, WarningsAndErrors) {
  Axes[3].AxisName = "Z";
  Line.Ctl(3).Warnings = 5 | 256;
  VERIExamineWarning(3);
  EXPECT_EQ(Host.Report.Lines, (std::vector<std::string>{"WARNING VERI [  1]: Software limit switch reached",
                                                         "WARNING VERI [  4]: Voltage of electronics is at lower limit!"}));
  EXPECT_EQ(Line.Ctl(3).Warnings, 0);

  Host.Report.Lines.clear();
  for (int a = 1; a <= 3; ++a) Axes[a].MotorOn = Line.Ctl(a).MotorOn = true;
  Line.Ctl(3).Errors = 2 | 32 | 8192 | 1;
  VERIExamineError(3);
  EXPECT_EQ(Host.Report.Lines,
            (std::vector<std::string>{"*** ERROR VERI [  2]: Temperature of electronics exceeds limit!",
                                      "*** ERROR VERI [ 32]: Step control error (should never occur here!!)!",
                                      "*** ERROR VERI [8192]: Hardware limit switch open!"}));
  ASSERT_EQ(Host.Operator.Asked.size(), 3u);
  EXPECT_EQ(Host.Operator.Asked[2].Text,
            "*** ERROR VERI [8192]: Hardware limit switch open!\r\n"
            "Before pressing [OK] move Z-axis manually towards the center of the machine.\r\n"
            "If this error occurs again, contact service.");
  EXPECT_FALSE(Line.Ctl(1).MotorOn);
  EXPECT_TRUE(Line.Ctl(3).MotorOn);
  EXPECT_EQ(Line.Ctl(3).Errors, 0);

  // Without the limit switch the register stays as it is.
  Line.Ctl(2).Errors = 128;
  VERIExamineError(2);
  EXPECT_EQ(Line.Ctl(2).Errors, 128);
  EXPECT_EQ(Host.Operator.Asked.back().Text.substr(0, 41), "*** ERROR VERI [ 128]: Shortage in power ");

  // A failed read reports and does nothing else.
  Host.Report.Lines.clear();
  Line.Control("mute 1");
  size_t sent = Line.Sent.size();
  VERIExamineError(1);
  VERIExamineWarning(1);
  EXPECT_EQ(Line.Sent.size(), sent + 2);
  ASSERT_EQ(Host.Report.Lines.size(), 2u);
  EXPECT_EQ(Host.Report.Lines[0].substr(0, 21), "VERIExamineError: ***");
  EXPECT_EQ(Host.Report.Lines[1].substr(0, 23), "VERIExamineWarning: ***");
}

TEST_F(ConnectionTest, Outputs) {
  DigOutTable[1].Address = 2;
  DigOutTable[1].Pin = 4;
  DigOutTable[2].Address = 0;
  DigOutTable[2].Pin = 5;
  VERIOut(1, 1);
  VERIOut(1, 1);  // written again
  VERIToggleOut(1);
  EXPECT_EQ(DigOutTable[1].State, 0);
  EXPECT_EQ(Line.Commands(2), (std::vector<std::string>{"P1204=1", "P1204=1", "P1204=0"}));
  VERIOut(2, 1);
  VERIToggleOut(2);
  VERIOut(0, 1);
  VERIOut(99, 1);
  EXPECT_EQ(DigOutTable[2].State, 0);
  EXPECT_EQ(Line.Sent.size(), 3u);
}
