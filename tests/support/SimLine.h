#pragma once
// The program's own serial port on build/veri-sim's pty, in real time (the
// controllers live outside), with the machine of the task runs.
#include <cstdlib>
#include <memory>
#include <string>

#include "base/Machine.h"
#include "base/OpState.h"
#include "recipes/Definitions.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"
#include "support/SimProcess.h"
#include "tasks/Process.h"
#include "veri/LineCheck.h"
#include "veri/Transport.h"

// KV_FAST_REPLIES=1 runs the end-to-end tests with "Replies end at the line
// end" on, =2 automatic (tests/CMakeLists.txt runs them all three ways).
inline TFastReplies FastRepliesUnderTest() {
  const char *v = std::getenv("KV_FAST_REPLIES");
  const std::string s = v ? v : "";
  return s == "1" ? TFastReplies::On : s == "2" ? TFastReplies::Automatic : TFastReplies::Off;
}

class TSimLine {
public:
  // Automatic earns the line end as Connect does, on the controllers' reads
  // (writes earn it at the first of each).
  explicit TSimLine(TFastReplies mode = FastRepliesUnderTest())
      : Port(std::make_unique<TSerialPortNG>()), SavedPort(VeriPort()) {
    Host().Clock = nullptr;
    if (!Sim.Started()) return;
    Port->SetCommPort(Sim.SlavePath);
    Port->SetBaudRate(19200);
    Port->ThreadQuietMode = true;
    Port->SetFastReplies(mode);
    Port->SetActive(true);
    VeriPort() = Port.get();
    if (mode == TFastReplies::Automatic) VERICheckLine({1, 2, 3});
  }
  ~TSimLine() {
    VeriPort() = SavedPort;
    Port->SetActive(false);
  }
  bool Open() const { return Sim.Started() && Port->Active(); }
  bool Received(const std::string &frame) const {
    for (const std::string &f : Sim.Frames())
      if (f == frame) return true;
    return false;
  }
  // Controllers powered, the simulator ten times faster, every axis at the
  // simulator's 10 mm, standard height and speed small, home at 1 cm, output
  // channel 2 on Z pin 4, and two positions "Rinse" and "Coat".
  void PrepareDipMachine() {
    ResetMachineDefaults();
    ResetDefinitions();
    StopLatch() = TStopLatch();
    SetOpState(Idle);
    Sim.Control("speedup 10");
    for (uint8_t a = 1; a <= 3; ++a) {
      VERIDialog(a, "P134=7");
      Axes[a].Position = 1;
      Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
    }
    MachineSettings.StandardZ = 1;
    MachineSettings.HomeX = MachineSettings.HomeY = MachineSettings.HomeZ = 1;
    MachineSettings.StandardV = 2;
    DigOutCount = 4;
    DigOutTable[2].Address = 3;
    DigOutTable[2].Pin = 4;
    AppendPosition({"Rinse", 2, 1.5});
    AppendPosition({"Coat", 3, 2});
  }
  TSimProcess Sim;
  std::unique_ptr<TSerialPortNG> Port;

private:
  IClusterPort *SavedPort;
};
