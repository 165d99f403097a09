#include "machine/Startup.h"

#include <algorithm>
#include <exception>
#include <unistd.h>

#include "base/Convert.h"
#include "base/Machine.h"
#include "base/Profile.h"

const char *const HardwareIniFile = ".\\KVHardware.ini";
const char *const SettingsIniFile = ".\\KVSettings.ini";
const char *const SharedHardwareIniFile = "/etc/kavetra/KVHardware.ini";

std::string HardwareIniToRead(const std::string &shared) {
  if (::access(ProfilePath(HardwareIniFile).c_str(), F_OK) != 0 && ::access(shared.c_str(), R_OK) == 0)
    return shared;
  return HardwareIniFile;
}

namespace {

constexpr size_t AxisNameLength = 8;
constexpr size_t ChannelNameLength = 16;
constexpr size_t VersionLength = 16;

struct TChannelTable {
  const char *Prefix;  // "DigOut", "DigIn", "ADC"
  TDigOutEntry *Table;
  int Size;
  int32_t *Count;
};

const TChannelTable Channels[3] = {
    {"DigOut", DigOutTable, DigOutMax, &DigOutCount},
    {"DigIn", DigInTable, DigInMax, &DigInCount},
    {"ADC", AdcTable, AdcMax, &AdcCount},
};

// Entry 1 is always read; then on while n is within the count. A count
// above the table stops at the table's end.
int LastToRead(const TChannelTable &t) { return std::clamp<int32_t>(*t.Count, 1, t.Size); }
// Entries written back: none for a count of 0 or less.
int LastToWrite(const TChannelTable &t) { return std::clamp<int32_t>(*t.Count, 0, t.Size); }

uint8_t Low8(int32_t v) { return static_cast<uint8_t>(static_cast<uint32_t>(v) & 0xFF); }

std::string Motor(int n) { return "Motor" + std::to_string(n); }

}  // namespace

void ReadMachineConfig(const std::string &sharedHardware) {
  const std::string hw = HardwareIniToRead(sharedHardware);
  NMotors = ProfileReadInt(hw, "General", "NMotors", NMotors);
  LowestSpeed = 0;
  HighestSpeed = 1.0;
  for (int n = 1; n <= 3; ++n) {
    TAxisConfig &a = Axes[n];
    const std::string s = Motor(n);
    a.HWAddress = Low8(ProfileReadInt(hw, s, "HW_Address", a.HWAddress));
    a.AxisName = CutText(ProfileReadString(hw, s, "Axis", a.AxisName), AxisNameLength);
    a.MinPosition = ProfileReadFloat(hw, s, "Min_Position", a.MinPosition);
    a.MaxPosition = ProfileReadFloat(hw, s, "Max_Position", a.MaxPosition);
    a.MinSpeed = ProfileReadFloat(hw, s, "Min_Speed", a.MinSpeed);
    a.MaxSpeed = ProfileReadFloat(hw, s, "Max_Speed", a.MaxSpeed);
    a.Acceleration = ProfileReadFloat(hw, s, "Acceleration", a.Acceleration);
    if (a.MinSpeed < LowestSpeed) LowestSpeed = a.MinSpeed;
    if (a.MaxSpeed > HighestSpeed) HighestSpeed = a.MaxSpeed;
  }
  DigOutCount = ProfileReadInt(hw, "Channels", "DigOut_Channels", DigOutCount);
  DigInCount = ProfileReadInt(hw, "Channels", "DigIn_Channels", DigInCount);
  AdcCount = ProfileReadInt(hw, "Channels", "ADC_Channels", AdcCount);
  for (const auto &t : Channels) {
    for (int n = 1; n <= LastToRead(t); ++n) {
      const std::string s = t.Prefix + std::to_string(n);
      t.Table[n].Address = Low8(ProfileReadInt(hw, s, "Address", t.Table[n].Address));
      t.Table[n].Pin = Low8(ProfileReadInt(hw, s, "Pin", t.Table[n].Pin));
    }
  }

  const std::string st = SettingsIniFile;
  TMachineSettings &m = MachineSettings;
  m.HomeX = ProfileReadFloat(st, "Settings", "Home_X", m.HomeX);
  m.HomeY = ProfileReadFloat(st, "Settings", "Home_Y", m.HomeY);
  m.HomeZ = ProfileReadFloat(st, "Settings", "Home_Z", m.HomeZ);
  m.StandardZ = ProfileReadFloat(st, "Settings", "Standard_Z", m.StandardZ);
  m.StandardV = ProfileReadFloat(st, "Settings", "MaxStandard_V", m.StandardV);
  CurrentSpeed = m.StandardV;
  m.YCenterline = ProfileReadBool(st, "Settings", "Y_Centerline", m.YCenterline);
  for (const auto &t : Channels) {
    for (int n = 1; n <= LastToRead(t); ++n) {
      const std::string key = t.Prefix + std::to_string(n);
      t.Table[n].Name = CutText(ProfileReadString(st, "Channels", key, t.Table[n].Name), ChannelNameLength);
    }
  }
}

void ReadComPortSettings(const TStartupHooks &h) {
  const std::string st = SettingsIniFile;
  const std::string s = "COMPortSettings";
  std::string port = ProfileReadString(st, s, "Port", "COM1");
  if (h.SetPort) h.SetPort(port);
  int32_t v = ProfileReadInt(st, s, "Baud", 19200);
  if (h.SetBaud) h.SetBaud(v);
  v = ProfileReadInt(st, s, "DataBits", 8);
  if (h.SetDataBits) h.SetDataBits(v);
  v = ProfileReadInt(st, s, "StopBits", 1);
  if (h.SetStopBits) h.SetStopBits(v);
  v = ProfileReadInt(st, s, "Parity", 0);
  if (h.SetParity) h.SetParity(v);
  v = ProfileReadInt(st, s, "Control", 0);
  if (h.SetControl) h.SetControl(v);
  // Absent or unknown: automatic; 1 and 0 keep their old meaning.
  v = ProfileReadInt(st, s, "FastReplies", 2);
  if (h.SetFastReplies) h.SetFastReplies(v == 0 || v == 1 ? v : 2);
}

void RunStartup(const TStartupHooks &h) {
  // Number <-> text always uses "." (base/Convert.h), so nothing to set first.
  ReadMachineConfig();
  if (NMotors == 2 && h.AdaptToTwoMotors) h.AdaptToTwoMotors();
  ReadComPortSettings(h);
  if (h.RefreshEditors) h.RefreshEditors();
  if (h.OpenPort) h.OpenPort();
}

void WriteMachineConfig(const std::string &sharedHardware) {
  const std::string hw = HardwareIniFile;
  if (HardwareIniToRead(sharedHardware) == hw && ProfileReadInt(hw, "General", "FileStatus", 0) == 0) {
    ProfileWriteInt(hw, "General", "FileStatus", 1);
    ProfileWriteString(hw, "General", "HW_Supplier", "DIVIVOD");
    ProfileWriteString(hw, "General", "Mechanics", "LX3");
    ProfileWriteInt(hw, "General", "NMotors", NMotors);
    for (int n = 1; n <= 3; ++n) {
      const TAxisConfig &a = Axes[n];
      const std::string s = Motor(n);
      ProfileWriteString(hw, s, "SW_Version", CutText(a.Version, VersionLength));
      ProfileWriteInt(hw, s, "HW_Address", a.HWAddress);
      ProfileWriteString(hw, s, "Axis", CutText(a.AxisName, AxisNameLength));
      ProfileWriteFloat(hw, s, "Min_Position", a.MinPosition);
      ProfileWriteFloat(hw, s, "Max_Position", a.MaxPosition);
      ProfileWriteFloat(hw, s, "Min_Speed", a.MinSpeed);
      ProfileWriteFloat(hw, s, "Max_Speed", a.MaxSpeed);
      ProfileWriteFloat(hw, s, "Acceleration", a.Acceleration);
    }
    ProfileWriteInt(hw, "Channels", "DigOut_Channels", DigOutCount);
    ProfileWriteInt(hw, "Channels", "DigIn_Channels", DigInCount);
    ProfileWriteInt(hw, "Channels", "ADC_Channels", AdcCount);
    for (const auto &t : Channels) {
      for (int n = 1; n <= LastToWrite(t); ++n) {
        const std::string s = t.Prefix + std::to_string(n);
        ProfileWriteInt(hw, s, "Address", t.Table[n].Address);
        ProfileWriteInt(hw, s, "Pin", t.Table[n].Pin);
      }
    }
  }

  const std::string st = SettingsIniFile;
  const TMachineSettings &m = MachineSettings;
  ProfileWriteFloat(st, "Settings", "Home_X", m.HomeX);
  ProfileWriteFloat(st, "Settings", "Home_Y", m.HomeY);
  ProfileWriteFloat(st, "Settings", "Home_Z", m.HomeZ);
  ProfileWriteFloat(st, "Settings", "Standard_Z", m.StandardZ);
  ProfileWriteFloat(st, "Settings", "MaxStandard_V", m.StandardV);
  ProfileWriteBool(st, "Settings", "Y_Centerline", m.YCenterline);
  for (const auto &t : Channels) {
    for (int n = 1; n <= LastToWrite(t); ++n)
      ProfileWriteString(st, "Channels", t.Prefix + std::to_string(n),
                         CutText(t.Table[n].Name, ChannelNameLength));
  }
}

void RunShutdown(const TStartupHooks &h) {
  std::exception_ptr failed;
  try {
    WriteMachineConfig();
  } catch (...) {
    failed = std::current_exception();
  }
  if (h.ClosePort) h.ClosePort();
  if (failed) std::rethrow_exception(failed);
}
