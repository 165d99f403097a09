// The controller protocol over a real serial port against build/veri-sim.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "machine/Machine.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"
#include "support/SimProcess.h"
#include "veri/Connection.h"
#include "veri/Outputs.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

const std::string NoConn = "*** VERIDialog: no connection to VERI  ";

class TRecordingView : public IConnectionView {
public:
  std::vector<int> Positions;
  int Enabled = 0, Finished_ = 0;
  void SetProgress(int position) override { Positions.push_back(position); }
  void EnableManualMove() override { ++Enabled; }
  void Finished() override { ++Finished_; }
  int Last() const { return Positions.empty() ? -1 : Positions.back(); }
};

// The program's own port on the simulator's pty, real time.
struct VeriE2E : ::testing::Test {
  THostFixture Host{1};
  std::unique_ptr<TSimProcess> Sim;
  TRecordingView View;
  IConnectionView *SavedView = nullptr;

  VeriE2E() {
    ::Host().Clock = nullptr;  // real sleeps: the line runs in real time
    ResetMachineDefaults();
    SavedView = SetConnectionView(&View);
  }
  ~VeriE2E() override {
    SetConnectionView(SavedView);
    DestroySerialPortNG1();
    ResetMachineDefaults();
  }
  void Start(const std::vector<std::string> &args = {}) {
    Sim = std::make_unique<TSimProcess>(args);
    ASSERT_TRUE(Sim->Started());
    TSerialPortNG *port = CreateSerialPortNG1();
    port->ThreadQuietMode = true;
    port->SetCommPort(Sim->SlavePath);
    port->SetActive(true);
    ASSERT_TRUE(port->Active());
  }
  std::vector<std::string> Frames() const { return Sim->Frames(); }
  bool Received(const std::string &frame) const { return Sim->Received(frame); }
  std::vector<std::string> Questions() const {
    std::vector<std::string> q;
    for (auto &a : Host.Operator.Asked) q.push_back(a.Text);
    return q;
  }
};

const char *const AskMotors = "At least one motor is without current. Switch ON now (you also can do it later)?";
const char *const AskRef = "At least one axes needs to go to the reference position. You want to do it now?";
const char *const AskRetry =
    "No connection to VERI hardware. Check if COM1: port is connected and if power is on. Retry checking "
    "connection or ignore it?";
const char *const Continue = "WARNING! You continue without confirmation of serial connection to hardware!";

}  // namespace

TEST_F(VeriE2E, CheckWithThreeControllersSwitchesOnAndReferences) {
  Start({"--axes", "1,2,3"});
  Sim->Control("speedup 20");
  Host.Operator.Answers = {mbYes, mbYes};
  VERICheckConnection();

  EXPECT_EQ(Questions(), (std::vector<std::string>{AskMotors, AskRef}));
  for (int a = 1; a <= 3; ++a) {
    EXPECT_TRUE(Axes[a].Connected) << a;
    EXPECT_TRUE(Axes[a].MotorOn) << a;
    EXPECT_TRUE(Axes[a].Referenced) << a;
    EXPECT_EQ(Axes[a].Version, "VERISIM_1.0 ");
  }
  EXPECT_EQ(View.Enabled, 1);
  EXPECT_EQ(View.Finished_, 1);
  EXPECT_EQ(View.Positions.front(), 0);
  EXPECT_EQ(View.Last(), 95);
  const std::string log = Host.Report.Joined();
  EXPECT_NE(log.find("Axis 1: \nVERI Software Version: VERISIM_1.0 \n (-) not referenced!\n (-) power OFF!\n"
                     "Axis 2: "),
            std::string::npos)
      << log;
  EXPECT_TRUE(Received("#3 P134=7") && Received("#2 P134=7") && Received("#1 P134=7"));
  EXPECT_TRUE(Host.Report.Has("Axis [3] to ref. position ..."));
  EXPECT_TRUE(Host.Report.Has("   ... done."));
}

TEST_F(VeriE2E, CheckWithTwoMotors) {
  Start({"--axes", "1,3"});
  NMotors = 2;
  Sim->Control("set 1 403 1");
  Sim->Control("set 3 403 1");
  Sim->Control("set 1 134 7");
  Sim->Control("set 3 134 7");
  VERICheckConnection();
  EXPECT_TRUE(Host.Operator.Asked.empty());
  EXPECT_EQ(View.Last(), 70);
  EXPECT_FALSE(Host.Report.Has("Axis 2: "));
  EXPECT_TRUE(Host.Report.Has("Axis 3: "));
  EXPECT_TRUE(Host.Report.Has(" (+) referenced."));
  EXPECT_TRUE(Host.Report.Has(" (+) power ON."));
  // The second axis counts as connected on a two-motor machine.
  EXPECT_TRUE(Axes[1].Connected && Axes[2].Connected && Axes[3].Connected);
  EXPECT_EQ(View.Enabled, 1);
  for (auto &f : Frames()) EXPECT_NE(f.substr(0, 3), "#2 ") << f;
}

TEST_F(VeriE2E, CheckWithNoControllerTimesOutPerAxis) {
  Start({"--axes", "1,2,3"});
  Sim->Control("mute all");
  ReportLevel = 2;
  Host.Operator.Answers = {mbIgnore};
  auto t0 = std::chrono::steady_clock::now();
  VERICheckConnection();
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("[ figures  ] connection check with no controller: %.2f s for 3 axes\n", s);

  EXPECT_EQ(Questions(), (std::vector<std::string>{AskRetry, Continue}));
  EXPECT_EQ(View.Enabled, 0);
  EXPECT_EQ(View.Last(), 50);  // 3 axes x 10, then the four closing steps
  for (int a = 1; a <= 3; ++a) EXPECT_FALSE(Axes[a].Connected);
  std::string log;
  for (auto &l : Host.Report.Lines)
    if (l[0] != '$') log += l + "\n";
  EXPECT_NE(log.find("Axis 2: \n*** SerialTalk: TimeOut\n" + NoConn + "\nAxis 3: "), std::string::npos) << log;
  // The "$" lines of the transport are there at level 2.
  EXPECT_TRUE(Host.Report.Has("$ VERI Rcvd: (0) : *** SerialTalk: TimeOut  "));
}

TEST_F(VeriE2E, WrongAddressAndEmergencyStop) {
  Start({"--axes", "1,2,3"});
  Sim->Control("wrongaddr 2 1");
  Sim->Control("estop 3 press");
  Host.Operator.Answers = {mbIgnore, mbOK, mbNo, mbIgnore, mbNo};
  VERICheckConnection();
  EXPECT_TRUE(Axes[1].Connected);
  EXPECT_FALSE(Axes[2].Connected);
  EXPECT_TRUE(Axes[3].Connected);
  EXPECT_TRUE(Axes[3].StopActive);
  EXPECT_FALSE(Axes[1].StopActive);
  EXPECT_TRUE(Host.Report.Has("*** #1 VER VERISIM_1.0"));
  EXPECT_TRUE(Host.Report.Has(" (-) Stop activated!"));
  EXPECT_EQ(View.Enabled, 0);
  EXPECT_EQ(Questions(), (std::vector<std::string>{AskRetry, Continue, AskMotors,
                                                   "STOP switch is activated. Releas knob and continue.",
                                                   AskRef}));
}

TEST_F(VeriE2E, WarningsErrorsAndOutputs) {
  Start({"--axes", "1,2,3"});
  Axes[1].AxisName = "X";
  Sim->Control("warn 1 5");
  VERIExamineWarning(1);
  EXPECT_TRUE(Host.Report.Has("WARNING VERI [  1]: Software limit switch reached"));
  EXPECT_TRUE(Host.Report.Has("WARNING VERI [  4]: Voltage of electronics is at lower limit!"));
  EXPECT_FALSE(Host.Report.HasPrefix("WARNING VERI [  2]"));
  int32_t v = -1;
  std::string error;
  VERIGetParamI(1, 12, v, error);
  EXPECT_EQ(v, 0);

  Sim->Control("error 1 8194");
  VERIExamineError(1);
  ASSERT_EQ(Host.Operator.Asked.size(), 2u);
  EXPECT_EQ(Host.Operator.Asked[0].Kind, TMsgKind::Error);
  EXPECT_EQ(Host.Operator.Asked[0].Text,
            "*** ERROR VERI [  2]: Temperature of electronics exceeds limit!\r\n"
            "Stop operation, wait for cooling, and find out the reason before restart.");
  EXPECT_NE(Host.Operator.Asked[1].Text.find("move X-axis manually"), std::string::npos);
  EXPECT_FALSE(Axes[2].MotorOn);
  EXPECT_TRUE(Axes[1].MotorOn);  // on again after OK
  VERIGetParamI(1, 11, v, error);
  EXPECT_EQ(v, 0);

  Sim->Control("error 2 32");
  VERIExamineError(2);
  EXPECT_TRUE(Host.Report.Has("*** ERROR VERI [ 32]: Step control error (should never occur here!!)!"));
  VERIGetParamI(2, 11, v, error);
  EXPECT_EQ(v, 32);

  DigOutTable[1].Address = 2;
  DigOutTable[1].Pin = 4;
  VERIOut(1, 1);
  VERIToggleOut(1);
  EXPECT_EQ(DigOutTable[1].State, 0);
  EXPECT_TRUE(Received("#2 P1204=1"));
  EXPECT_TRUE(Received("#2 P1204=0"));
}

TEST_F(VeriE2E, LateReplyIsDrained) {
  Start({"--axes", "1,2,3"});
  ReportLevel = 2;
  Sim->Control("delay 1 1300 1");
  EXPECT_EQ(VERIDialog(1, "VER").substr(0, 25), "*** SerialTalk: TimeOut\r\n");
  SleepMs(700);  // the reply is in by now
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(VERIDialog(1, "P403?"), "P403=5 ");
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("[ figures  ] one exchange over the pty: %.0f ms\n", ms);
  EXPECT_TRUE(Host.Report.Has("$ VERI Serial Talk buffer: #1 VER VERISIM_1.0\r\n")) << Host.Report.Joined();
}
