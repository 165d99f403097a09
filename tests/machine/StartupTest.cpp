#include <vector>

#include "support/TempDir.h"
#include "base/Profile.h"
#include "machine/Startup.h"

namespace {

const char *const FreshHardware =
    "[General]\r\nFileStatus=1\r\nHW_Supplier=DIVIVOD\r\nMechanics=LX3\r\nNMotors=3\r\n"
    "[Motor1]\r\nSW_Version=\r\nHW_Address=1\r\nAxis=X\r\nMin_Position=0\r\nMax_Position=54\r\n"
    "Min_Speed=0\r\nMax_Speed=2\r\n"
    "[Motor2]\r\nSW_Version=\r\nHW_Address=2\r\nAxis=Y\r\nMin_Position=0\r\nMax_Position=25\r\n"
    "Min_Speed=0\r\nMax_Speed=2\r\n"
    "[Motor3]\r\nSW_Version=\r\nHW_Address=3\r\nAxis=Z\r\nMin_Position=0\r\nMax_Position=25\r\n"
    "Min_Speed=0\r\nMax_Speed=2\r\n"
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
    h.RefreshEditors = [this] { Calls.push_back("editors"); };
    h.OpenPort = [this] { Calls.push_back("open"); };
    h.ClosePort = [this] { Calls.push_back("close"); };
    return h;
  }
};

}  // namespace

using StartupTest = TTempDirTest;

TEST_F(StartupTest, NoFilesGiveDefaultsAndExactFilesAtExit) {
  TRecorder r;
  RunStartup(r.Hooks());
  EXPECT_EQ(NMotors, 3);
  EXPECT_EQ(Axes[1].MaxPosition, 54);
  EXPECT_EQ(r.Calls, (std::vector<std::string>{"port COM1", "baud 19200", "data 8", "stop 1",
                                               "parity 0", "control 0", "editors", "open"}));
  EXPECT_FALSE(Exists("KVHardware.ini"));  // reading creates nothing

  RunShutdown(r.Hooks());
  EXPECT_EQ(r.Calls.back(), "close");
  EXPECT_EQ(Get("KVHardware.ini"), FreshHardware);
  EXPECT_EQ(Get("KVSettings.ini"), FreshSettings);

  // A second run leaves the hardware file byte for byte.
  ResetMachineDefaults();
  RunStartup(r.Hooks());
  Axes[1].Version = "V2.1";
  RunShutdown(r.Hooks());
  EXPECT_EQ(Get("KVHardware.ini"), FreshHardware);
  EXPECT_EQ(Get("KVSettings.ini"), FreshSettings);
  EXPECT_EQ(OtherFiles("KVHardware.ini\nKVSettings.ini"), "");
}

TEST_F(StartupTest, FileStatusDecidesWhetherHardwareIsWritten) {
  const std::string hand = "[general]\nfilestatus=1\nNMotors=3\n[Motor1]\nMax_Speed=4\n";
  Put("KVHardware.ini", hand);
  ReadMachineConfig();
  EXPECT_EQ(Axes[1].MaxSpeed, 4);
  EXPECT_EQ(HighestSpeed, 4);
  Axes[1].MaxSpeed = 1;
  Axes[2].Version = "V1.0";
  MachineSettings.HomeX = 12.5;
  MachineSettings.YCenterline = true;
  WriteMachineConfig();
  EXPECT_EQ(Get("KVHardware.ini"), hand);
  EXPECT_DOUBLE_EQ(ProfileReadFloat("KVSettings.ini", "Settings", "Home_X", 0), 12.5);
  EXPECT_TRUE(ProfileReadBool("KVSettings.ini", "Settings", "Y_Centerline", false));

  // Set back to 0 by hand: written again from the values in use, hand lines kept.
  ProfileWriteInt("KVHardware.ini", "General", "FileStatus", 0);
  WriteMachineConfig();
  EXPECT_EQ(ProfileReadInt("KVHardware.ini", "General", "FileStatus", 0), 1);
  EXPECT_EQ(ProfileReadFloat("KVHardware.ini", "Motor1", "Max_Speed", 0), 1);
  EXPECT_EQ(Get("KVHardware.ini").substr(0, 23), "[general]\r\nfilestatus=1");
}

TEST_F(StartupTest, ChannelLoopsReadEntryOneAndWriteOnlyTheCount) {
  Put("KVHardware.ini",
      "[General]\nFileStatus=0\n[Channels]\nDigOut_Channels=0\nDigIn_Channels=-4\nADC_Channels=2\n"
      "[DigOut1]\nAddress=3\nPin=7\n[DigOut2]\nAddress=2\nPin=2\n"
      "[DigIn1]\nAddress=1\nPin=4\n[ADC1]\nAddress=3\nPin=1\n[ADC2]\nAddress=3\nPin=2\n"
      "[ADC3]\nAddress=3\nPin=3\n");
  Put("KVSettings.ini", "[Channels]\nDigOut1=Pump\nDigOut2=Valve\nDigIn1=Door\nADC1=Temp\n");
  ReadMachineConfig();
  EXPECT_EQ(DigOutTable[1].Address, 3);
  EXPECT_EQ(DigOutTable[1].Name, "Pump");
  EXPECT_EQ(DigOutTable[2].Address, 0);  // beyond the count
  EXPECT_EQ(DigOutTable[2].Name, "N.C.");
  EXPECT_EQ(DigInCount, -4);
  EXPECT_EQ(AdcTable[2].Pin, 2);
  EXPECT_EQ(AdcTable[2].Name, "N.C.");  // no name in the file: the default
  EXPECT_EQ(AdcTable[3].Pin, 0);

  DigOutTable[1].Pin = 9;
  DigOutTable[1].Name = "Changed";
  AdcTable[3].Pin = 9;
  WriteMachineConfig();
  EXPECT_EQ(ProfileReadInt("KVHardware.ini", "DigOut1", "Pin", 0), 7);
  EXPECT_EQ(ProfileReadInt("KVHardware.ini", "ADC3", "Pin", 0), 3);
  EXPECT_EQ(ProfileReadString("KVSettings.ini", "Channels", "DigOut1", "?"), "Pump");
  EXPECT_EQ(ProfileReadString("KVSettings.ini", "Channels", "ADC2", "?"), "N.C.");
}

TEST_F(StartupTest, CountsAboveTheTablesStayInside) {
  std::string hw = "[General]\nNMotors=3\n[Channels]\nDigOut_Channels=100\nDigIn_Channels=2147483647\n"
                   "ADC_Channels=0x7FFFFFFF\n";
  std::string names = "[Channels]\n";
  for (int n = 1; n <= 30; ++n) {
    const std::string i = std::to_string(n);
    for (const char *p : {"DigOut", "DigIn", "ADC"}) {
      hw += std::string("[") + p + i + "]\nAddress=" + i + "\nPin=" + i + "\n";
      names += std::string(p) + i + "=" + p + " name " + i + "\n";
    }
  }
  Put("KVHardware.ini", hw);
  Put("KVSettings.ini", names);
  ReadMachineConfig();
  EXPECT_EQ(DigOutCount, 100);
  EXPECT_EQ(DigInCount, 2147483647);
  EXPECT_EQ(AdcCount, 2147483647);
  EXPECT_EQ(DigInTable[24].Name, "DigIn name 24");

  std::remove("KVHardware.ini");
  std::remove("KVSettings.ini");
  WriteMachineConfig();
  EXPECT_EQ(ProfileReadInt("KVHardware.ini", "Channels", "DigOut_Channels", 0), 100);
  EXPECT_EQ(ProfileReadInt("KVHardware.ini", "DigOut13", "Pin", -1), -1);
  EXPECT_EQ(ProfileReadInt("KVHardware.ini", "DigIn25", "Pin", -1), -1);
  EXPECT_EQ(ProfileReadInt("KVHardware.ini", "ADC4", "Pin", -1), -1);
  EXPECT_EQ(ProfileReadString("KVSettings.ini", "Channels", "DigIn25", "?"), "?");
}

TEST_F(StartupTest, OddValuesAreBoundedAndCut) {
  Put("KVHardware.ini",
      "[General]\nNMotors=2\n"
      "[Motor1]\nHW_Address=257\nAxis=ABCDEFGHIJ\nMin_Speed=0.2\nMax_Speed=0.5\n"
      "[Motor2]\nHW_Address=0x1FF\nAxis=  Y  \nMin_Speed=0.2\nMax_Speed=0.5\nMax_Position=abc\n"
      "[Motor3]\nHW_Address=-1\nAxis=\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\n"
      "Min_Speed=0.2\nMax_Speed=0.5\n[Channels]\nDigOut_Channels=1\n[DigOut1]\nAddress=258\nPin=0x100\n");
  Put("KVSettings.ini", "[Settings]\nMaxStandard_V=1.5\nY_Centerline=7\n"
                        "[Channels]\nDigOut1=Twenty characters!!\n");
  TRecorder r;
  RunStartup(r.Hooks());
  EXPECT_EQ(r.Calls.front(), "adapt");
  EXPECT_EQ(NMotors, 2);
  EXPECT_EQ(Axes[1].HWAddress, 1);
  EXPECT_EQ(Axes[2].HWAddress, 255);
  EXPECT_EQ(Axes[3].HWAddress, 255);
  EXPECT_EQ(Axes[1].AxisName, "ABCDEFGH");
  EXPECT_EQ(Axes[3].AxisName, "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6");
  EXPECT_EQ(HighestSpeed, 1.0);
  EXPECT_EQ(CurrentSpeed, 1.5);
  EXPECT_EQ(DigOutTable[1].Address, 2);
  EXPECT_EQ(DigOutTable[1].Pin, 0);
  EXPECT_EQ(DigOutTable[1].Name, "Twenty character");

  // Two motors: all three motor sections are still written.
  RunShutdown(r.Hooks());
  EXPECT_EQ(ProfileReadString("KVHardware.ini", "Motor3", "Axis", "?"),
            "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6");
  EXPECT_EQ(ProfileReadString("KVHardware.ini", "Motor1", "Max_Speed", "?"), "0.5");
  EXPECT_EQ(ProfileReadString("KVSettings.ini", "Settings", "Y_Centerline", "?"), "1");

}

TEST_F(StartupTest, FailedWriteSkipsTheRestButClosesThePort) {
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
  EXPECT_EQ(Get("KVHardware.ini"), FreshHardware);  // written before the failure
  EXPECT_EQ(Get("KVSettings.ini"), "[Settings]\nHome_X=1\n");

}
