#include "base/Machine.h"

int32_t NMotors;
TAxisConfig Axes[4];
double TravelMin[4];
double TravelMax[4];
double YCenter;
double CurrentSpeed;
double ShownSpeed;
double LowestSpeed;
double HighestSpeed;
int32_t DigOutCount, DigInCount, AdcCount;
TDigOutEntry DigOutTable[DigOutMax + 1];
TDigOutEntry DigInTable[DigInMax + 1];
TDigOutEntry AdcTable[AdcMax + 1];
TMachineSettings MachineSettings;

void ResetMachineDefaults() {
  static const char *names[4] = {"", "X", "Y", "Z"};
  static const double maxPos[4] = {0, 54, 25, 25};
  NMotors = 3;
  for (int n = 0; n <= 3; ++n) {
    Axes[n] = TAxisConfig();
    Axes[n].HWAddress = static_cast<uint8_t>(n);
    Axes[n].AxisName = names[n];
    Axes[n].MaxPosition = maxPos[n];
  }
  TravelMin[0] = TravelMin[1] = TravelMin[2] = TravelMin[3] = 0;
  TravelMax[0] = 0;
  TravelMax[1] = 54;
  TravelMax[2] = 20.5;
  TravelMax[3] = 25;
  YCenter = TravelMax[2] / 2;
  MachineSettings = TMachineSettings();
  MachineSettings.HomeY = TravelMax[2] / 2;
  CurrentSpeed = MachineSettings.StandardV;
  ShownSpeed = 3;
  LowestSpeed = 0;
  HighestSpeed = 3;
  DigOutCount = DigInCount = AdcCount = 0;
  for (auto &e : DigOutTable) e = TDigOutEntry();
  for (auto &e : DigInTable) e = TDigOutEntry();
  for (auto &e : AdcTable) e = TDigOutEntry();
}

namespace {
// Defaults hold from the very start, before the entry sets them again.
struct TInitMachine {
  TInitMachine() { ResetMachineDefaults(); }
} InitMachine;
}  // namespace
