#pragma once
// Driving the robot by hand (jog pad) and what the position and speed
// displays show. Plain logic: the main window applies the results.
#include <cstdint>
#include <string>

// The pad's moving buttons and the motor double-click act only while nothing
// else runs or moves (the buttons are disabled then; this covers a click
// queued before, or handled in the same pump as, a STOP).
bool ManualAllowed();
// A jog: `axis` towards TravelMax (plus) or TravelMin at CurrentSpeed, with
// the STOP button enabled while it runs.
void Jog(uint8_t axis, bool plus);
// The "Home" button.
void Home();
// Speed buttons: only CurrentSpeed changes.
void SpeedStandard();  // "V0"
void SpeedUp();        // "V+": doubled, at most HighestSpeed
void SpeedDown();      // "V-": halved, at least LowestSpeed
// Double-click on an axis letter: motor current of axis 1..3 on/off.
void ToggleMotorCurrent(uint8_t axis);

// Fixed-point text with `decimals` digits, the value first limited to
// `precision` significant digits (1234.567 with 5 and 2 gives "1234.60").
std::string FloatToStrFixed(double value, int precision, int decimals);

// What one axis display shows after a refresh.
enum class TLabelColour { Keep, Teal, Maroon };
struct TAxisShow {
  bool Enabled = false;
  std::string Value;
  bool SetUnit = false;  // false: the unit label keeps its text
  std::string Unit;
  TLabelColour Label = TLabelColour::Keep;
};

// One tick of the display timer, without widgets: sets ShownSpeed, clears the
// Changed flag of every axis it refreshes. Refresh[n] tells whether axis n's
// display is to be updated (Y never on a two-motor machine).
struct TDisplayTick {
  bool Refresh[4] = {false, false, false, false};
  TAxisShow Axis[4];
  std::string Speed;
};
TDisplayTick DisplayTick();
// Something waits to be shown, or an axis moves: the display timer must run.
bool DisplayDue();
