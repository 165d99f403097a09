#include <algorithm>
#include <cstdio>
#include <vector>

#include "support/TempDir.h"
#include "base/Profile.h"
#include "machine/Startup.h"

namespace {

const char *const FreshHardware =
    "[General]\r\nFileStatus=1\r\nHW_Supplier=DIVIVOD\r\nMechanics=LX3\r\nNMotors=3\r\n"
    "[Motor1]\r\nSW_Version=\r\nHW_Address=1\r\nAxis=X\r\nMin_Position=0\r\nMax_Position=54\r\n"
    "Min_Speed=0\r\nMax_Speed=2\r\nAcceleration=10\r\n"
    "[Motor2]\r\nSW_Version=\r\nHW_Address=2\r\nAxis=Y\r\nMin_Position=0\r\nMax_Position=25\r\n"
    "Min_Speed=0\r\nMax_Speed=2\r\nAcceleration=10\r\n"
    "[Motor3]\r\nSW_Version=\r\nHW_Address=3\r\nAxis=Z\r\nMin_Position=0\r\nMax_Position=25\r\n"
    "Min_Speed=0\r\nMax_Speed=2\r\nAcceleration=10\r\n"
    "[Channels]\r\nDigOut_Channels=0\r\nDigIn_Channels=0\r\nADC_Channels=0\r\n";

const char *const FreshSettings =
    "[Settings]\r\nHome_X=0\r\nHome_Y=10.25\r\nHome_Z=5\r\nStandard_Z=5\r\nMaxStandard_V=3\r\n"
    "Y_Centerline=0\r\n";

// Hooks that log what the main window would have been told, in order.
struct TRecorder {
  std::vector<std::string> Calls;
  TStartupHooks Hooks() {
    TStartupHooks h;
    h.AdaptToTwoMotors = [this] { Calls.push_back("adapt"); };
    h.SetPort = [this](const std::string &p) { Calls.push_back("port " + p); };
    h.SetBaud = [this](int32_t v) { Calls.push_back("baud " + std::to_string(v)); };
    h.SetDataBits = [this](int32_t v) { Calls.push_back("data " + std::to_string(v)); };
    h.SetStopBits = [this](int32_t v) { Calls.push_back("stop " + std::to_string(v)); };
    h.SetParity = [this](int32_t v) { Calls.push_back("parity " + std::to_string(v)); };
    h.SetControl = [this](int32_t v) { Calls.push_back("control " + std::to_string(v)); };
    h.SetFastReplies = [this](int32_t v) { Calls.push_back("fast " + std::to_string(v)); };
    h.RefreshEditors = [this] { Calls.push_back("editors"); };
    h.OpenPort = [this] { Calls.push_back("open"); };
    h.ClosePort = [this] { Calls.push_back("close"); };
    return h;
  }
};

}  // namespace

using StartupTest = TTempDirTest;

// "FastReplies": 0 off and 1 on as ever; absent or anything else automatic.
TEST_F(StartupTest, StoredFastRepliesKeepTheirMeaning) {
  for (auto [stored, mode] : {std::pair<const char *, const char *>{"0", "fast 0"},
                              {"1", "fast 1"},
                              {"2", "fast 2"},
                              {"7", "fast 2"}}) {
    Put("KVSettings.ini", std::string("[COMPortSettings]\r\nFastReplies=") + stored + "\r\n");
    TRecorder r;
    RunStartup(r.Hooks());
    EXPECT_NE(std::find(r.Calls.begin(), r.Calls.end(), mode), r.Calls.end()) << stored;
  }
}

// Without files: defaults, and the files written at exit. Once written
// (FileStatus=1) the hardware file is the operator's: never rewritten.
TEST_F(StartupTest, NoFilesGiveDefaultsAndExactFilesAtExit) {
  TRecorder r;
  RunStartup(r.Hooks());
  EXPECT_EQ(r.Calls, (std::vector<std::string>{"port COM1", "baud 19200", "data 8", "stop 1", "parity 0",
                                               "control 0", "fast 2", "editors", "open"}));
  EXPECT_FALSE(Exists("KVHardware.ini"));  // reading creates nothing
  RunShutdown(r.Hooks());
  EXPECT_EQ(r.Calls.back(), "close");
  EXPECT_EQ(Get("KVHardware.ini"), FreshHardware);
  EXPECT_EQ(Get("KVSettings.ini"), FreshSettings);

  ResetMachineDefaults();
  RunStartup(r.Hooks());
  Axes[1].Version = "V2.1";
  MachineSettings.HomeX = 12.5;
  RunShutdown(r.Hooks());
  EXPECT_EQ(Get("KVHardware.ini"), FreshHardware);
  EXPECT_DOUBLE_EQ(ProfileReadFloat("KVSettings.ini", "Settings", "Home_X", 0), 12.5);
  EXPECT_EQ(OtherFiles("KVHardware.ini\nKVSettings.ini"), "");
}

TEST_F(StartupTest, HandWrittenFilesAreReadAndBounded) {
  Put("KVHardware.ini",
      "[general]\nNMotors=2\n"
      "[Motor1]\nHW_Address=257\n[Motor3]\nHW_Address=7\n"
      "[Channels]\nDigOut_Channels=1\n[DigOut1]\nAddress=3\nPin=7\n[DigOut2]\nAddress=2\nPin=2\n");
  Put("KVSettings.ini", "[Settings]\nMaxStandard_V=1.5\n[Channels]\nDigOut1=Twenty characters!!\n");
  TRecorder r;
  RunStartup(r.Hooks());
  EXPECT_EQ(r.Calls.front(), "adapt");
  EXPECT_EQ(NMotors, 2);
  EXPECT_EQ(Axes[1].HWAddress, 1);
  EXPECT_EQ(Axes[3].HWAddress, 7);
  EXPECT_EQ(CurrentSpeed, 1.5);
  EXPECT_EQ(DigOutTable[1].Address, 3);
  EXPECT_EQ(DigOutTable[1].Name, "Twenty character");
  EXPECT_EQ(DigOutTable[2].Address, 0);  // beyond the count
}

TEST_F(StartupTest, FailedWriteIsReportedAndStillClosesThePort) {
  Put("KVSettings.ini", "[Settings]\nHome_X=1\n");
  chmod("KVSettings.ini", 0444);
  TRecorder r;
  MachineSettings.HomeX = 7;
  try {
    RunShutdown(r.Hooks());
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find("KVSettings.ini"), std::string::npos) << e.what();
  }
  EXPECT_EQ(r.Calls, std::vector<std::string>{"close"});
  EXPECT_EQ(Get("KVSettings.ini"), "[Settings]\nHome_X=1\n");
}

// The machine-wide file stands in for a missing own one, is never copied,
// and gives way to an own file; the packaged one, all comments, reads as
// the defaults.
TEST_F(StartupTest, MachineWideHardwareFileStandsInForAMissingOwnOne) {
  const std::string shared = Dir + "/etc-KVHardware.ini";
  Put(shared, "; for every user\r\n[Motor3]\r\nMax_Position=31\r\n[General]\r\nNMotors=2\r\n");
  ReadMachineConfig(shared);
  EXPECT_DOUBLE_EQ(Axes[3].MaxPosition, 31);
  EXPECT_EQ(NMotors, 2);
  WriteMachineConfig(shared);
  EXPECT_FALSE(Exists("KVHardware.ini"));
  EXPECT_TRUE(Exists("KVSettings.ini"));

  Put("KVHardware.ini", "[Motor3]\r\nMax_Position=22\r\n");
  ResetMachineDefaults();
  ReadMachineConfig(shared);
  EXPECT_DOUBLE_EQ(Axes[3].MaxPosition, 22);
  EXPECT_EQ(NMotors, 3);

  std::remove("KVHardware.ini");
  ResetMachineDefaults();
  ReadMachineConfig(std::string(KV_SOURCE_DIR) + "/packaging/KVHardware.ini");
  WriteMachineConfig(Dir + "/none.ini");
  EXPECT_EQ(Get("KVHardware.ini"), FreshHardware);
}
