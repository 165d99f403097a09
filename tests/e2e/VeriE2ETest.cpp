// The controller protocol over a real serial port against build/veri-sim.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "app/FormMain.h"
#include "app/ReportWindow.h"
#include "base/Machine.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"
#include "support/SimProcess.h"
#include "veri/Connection.h"
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
    port->SetFastReplies(FastRepliesUnderTest());
    port->SetCommPort(Sim->SlavePath);
    port->SetActive(true);
    ASSERT_TRUE(port->Active());
  }
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

// The stock line settings (1.5 stop bits with 8 data bits) open without an
// error: a fresh folder whose settings name only the port.
TEST_F(VeriE2E, FreshFolderWithOnlyThePortConnectsWithoutError) {
  Sim = std::make_unique<TSimProcess>(std::vector<std::string>{"--axes", "1,2,3"});
  char cwd[4096], dir[] = "/tmp/kvfresh-XXXXXX";
  ASSERT_TRUE(getcwd(cwd, sizeof cwd) && mkdtemp(dir) && chdir(dir) == 0);
  std::ofstream("KVSettings.ini") << "[COMPortSettings]\r\nPort=" << Sim->SlavePath
                                  << (FastRepliesUnderTest() ? "\r\nFastReplies=1" : "") << "\r\n";
  ReportLevel = 2;
  {
    TTFormMain form;
    ::Host().Operator = &Host.Operator;
    Host.Operator.Answers = {mbNo, mbNo};
    VERICheckConnection();
    std::string log;
    for (int i = 0; i < form.ReportWindow->LineCount(); ++i) log += form.ReportWindow->Line(i) + "\n";
    EXPECT_EQ(log.find("***"), std::string::npos) << log;
    EXPECT_NE(log.find("line set to 1 stop bit"), std::string::npos) << log;
    EXPECT_TRUE(Axes[3].Connected);
    EXPECT_EQ(SerialPortNG1->FastReplies(), FastRepliesUnderTest());
  }
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(std::system(("rm -rf " + std::string(dir)).c_str()), 0);
}

TEST_F(VeriE2E, CheckWithNoControllerTimesOutPerAxis) {
  Start({"--axes", "1,2,3"});
  Sim->Control("mute all");
  ReportLevel = 2;
  Host.Operator.Answers = {mbIgnore};
  VERICheckConnection();

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

TEST_F(VeriE2E, LateReplyIsDrained) {
  Start({"--axes", "1,2,3"});
  ReportLevel = 2;
  Sim->Control("delay 1 1300 1");
  EXPECT_EQ(VERIDialog(1, "VER").substr(0, 25), "*** SerialTalk: TimeOut\r\n");
  SleepMs(700);  // the reply is in by now
  EXPECT_EQ(VERIDialog(1, "P403?"), "P403=5 ");
  EXPECT_TRUE(Host.Report.Has("$ VERI Serial Talk buffer: #1 VER VERISIM_1.0\r\n")) << Host.Report.Joined();
}
