#pragma once
// Reading the machine description and the operator's settings at start-up and
// writing them back at shut-down. The steps that need the main window or the
// serial port are handed in as hooks, so this code stays free of both.
#include <cstdint>
#include <functional>
#include <string>

extern const char *const HardwareIniFile;  // ".\KVHardware.ini"
extern const char *const SettingsIniFile;  // ".\KVSettings.ini"
// The machine description for every user of the PC, read when the working
// folder has no KVHardware.ini of its own ("/etc/kavetra/KVHardware.ini").
extern const char *const SharedHardwareIniFile;
// The hardware file to read: the working folder's when it exists, else
// `shared` when that exists, else the working folder's (defaults).
std::string HardwareIniToRead(const std::string &shared = SharedHardwareIniFile);

struct TStartupHooks {
  // NMotors is 2: hide the Y controls, captions "Get X" and "Get XZ".
  std::function<void()> AdaptToTwoMotors;
  // The serial section, each value set on the port right after it is read.
  std::function<void(const std::string &port)> SetPort;
  std::function<void(int32_t baud)> SetBaud;
  std::function<void(int32_t dataBits)> SetDataBits;
  std::function<void(int32_t stopBitsCode)> SetStopBits;
  std::function<void(int32_t parityCode)> SetParity;
  std::function<void(int32_t controlCode)> SetControl;
  // "FastReplies": 1 on, 0 off, 2 or absent automatic.
  std::function<void(int32_t mode)> SetFastReplies;
  // Shown slots back to 0 and every editor and list filled.
  std::function<void()> RefreshEditors;
  // Worker to quiet mode, port Active on.
  std::function<void()> OpenPort;
  // Port Active off.
  std::function<void()> ClosePort;
};

// Loads both INI files into the tables (start-up steps 2-9). Missing files,
// sections, keys and values that do not convert leave the defaults.
void ReadMachineConfig(const std::string &sharedHardware = SharedHardwareIniFile);
// Reads the serial section, calling the Set* hooks in file order.
void ReadComPortSettings(const TStartupHooks &hooks);
// The whole start-up: ReadMachineConfig, then the window, port settings,
// editors and finally the port opening through the hooks. Empty hooks are skipped.
void RunStartup(const TStartupHooks &hooks);

// Writes the hardware file when its "FileStatus" is 0 and the settings file
// always; no hardware file while the machine-wide one stands in for it,
// so its changes reach every user. A failed write throws std::runtime_error naming the file; keys
// written before it stay written and the rest is skipped.
void WriteMachineConfig(const std::string &sharedHardware = SharedHardwareIniFile);
// The whole shut-down. The port is closed even when a write fails (the
// program ends anyway and the serial worker must stop first); the write's
// error is rethrown afterwards for the caller's message box.
void RunShutdown(const TStartupHooks &hooks);
