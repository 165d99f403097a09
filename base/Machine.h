#pragma once
// The machine's description and the operator's settings, program-wide.
// Axis numbers are 1 = X, 2 = Y, 3 = Z; index 0 of the axis arrays is unused.
// Positions in cm, speeds in cm/s.
#include <cstdint>
#include <string>

struct TAxisConfig {
  uint8_t HWAddress = 0;
  bool Changed = true;   // a new position waits to be shown
  std::string Version;   // at most 16 characters
  std::string AxisName;  // at most 8 characters
  bool Connected = false;
  bool Referenced = false;
  bool StopActive = false;
  bool MotorOn = false;
  bool Moving = false;
  double Position = 0;
  // Not read since a move was abandoned or a read failed: Position is only
  // the last value kept, not where the axis stands.
  bool PositionUnknown = false;
  double MinPosition = 0;
  double MaxPosition = 0;
  double Speed = 0;
  double MinSpeed = 0;
  double MaxSpeed = 2;
  double Acceleration = 10;  // cm/s^2, for the time estimate
};

struct TDigOutEntry {
  uint8_t Address = 0;  // controller carrying the channel, 0 = not assigned
  uint8_t Pin = 0;
  uint8_t State = 0;  // last value written, 0 off / 1 on
  std::string Name = "N.C.";
};

struct TMachineSettings {
  double HomeX = 0;
  double HomeY = 10.25;
  double HomeZ = 5;
  double StandardZ = 5;
  double StandardV = 3;
  bool YCenterline = false;
};

constexpr int DigOutMax = 12;
constexpr int DigInMax = 24;
constexpr int AdcMax = 3;

extern int32_t NMotors;
extern TAxisConfig Axes[4];
extern double TravelMin[4];
extern double TravelMax[4];
extern double YCenter;
extern double CurrentSpeed;
extern double ShownSpeed;
extern double LowestSpeed;
extern double HighestSpeed;
extern int32_t DigOutCount, DigInCount, AdcCount;
extern TDigOutEntry DigOutTable[DigOutMax + 1];
extern TDigOutEntry DigInTable[DigInMax + 1];
extern TDigOutEntry AdcTable[AdcMax + 1];
extern TMachineSettings MachineSettings;

// Puts every table and variable above back to its program-start default.
void ResetMachineDefaults();
