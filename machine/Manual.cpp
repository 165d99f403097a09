#include "machine/Manual.h"

#include <charconv>
#include <cmath>

#include "base/Convert.h"
#include "base/Machine.h"
#include "base/OpState.h"
#include "machine/Motion.h"
#include "veri/Params.h"

bool ManualAllowed() {
  // A motion started inside another would cancel a STOP of the same pump.
  return OpState() == Idle && !MotionUnderWay();
}

void Jog(uint8_t axis, bool plus) {
  if (axis < 1 || axis > 3 || !ManualAllowed()) return;
  TManualStopHold stop;
  bool ok = true;
  MoveTo(axis, ok, CurrentSpeed, plus ? TravelMax[axis] : TravelMin[axis]);
}

void SpeedStandard() { CurrentSpeed = MachineSettings.StandardV; }

void SpeedUp() {
  CurrentSpeed *= 2;
  if (CurrentSpeed > HighestSpeed) CurrentSpeed = HighestSpeed;
}

void SpeedDown() {
  CurrentSpeed /= 2;
  if (CurrentSpeed < LowestSpeed) CurrentSpeed = LowestSpeed;
}

void Home() {
  if (ManualAllowed()) HomePos();
}

void ToggleMotorCurrent(uint8_t axis) {
  if (axis < 1 || axis > 3 || !ManualAllowed()) return;
  VERIMotorOnOff(axis, !Axes[axis].MotorOn);
}

std::string FloatToStrFixed(double value, int precision, int decimals) {
  if (!std::isfinite(value)) return FloatToStrF(value, decimals);
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, std::trunc(std::fabs(value)), std::chars_format::fixed, 0);
  std::string whole(buf, r.ptr);
  const int intDigits = whole == "0" ? 0 : static_cast<int>(whole.size());
  if (intDigits > precision) {
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
    std::string s(buf, r.ptr);
    for (char &c : s)
      if (c == 'e') c = 'E';
    return s;
  }
  // One rounding only: to the decimals that both limits allow.
  const int allowed = std::min(decimals, precision - intDigits);
  std::string s = FloatToStrF(value, allowed);
  if (allowed < decimals) {
    if (allowed == 0) s += '.';
    s.append(static_cast<size_t>(decimals - allowed), '0');
  }
  return s;
}

namespace {

TAxisShow ShowAxis(const TAxisConfig &a, double &shownSpeed) {
  TAxisShow s;
  if (!a.Connected) {
    s.Enabled = false;
    s.SetUnit = true;
    s.Unit = "";
    s.Value = "n.c.";
    return s;
  }
  s.Enabled = true;
  if (!a.MotorOn) {
    s.Value = "Off";
    return s;
  }
  s.SetUnit = true;
  if (!a.Referenced) {
    s.Unit = "!!!";
    s.Value = "NoRef";
    return s;
  }
  s.Unit = "cm";
  s.Value = a.PositionUnknown ? "?" : FloatToStrFixed(a.Position, 5, 2);
  if (a.Moving) {
    s.Label = TLabelColour::Maroon;
    shownSpeed = a.Speed;
  } else {
    s.Label = TLabelColour::Teal;
    shownSpeed = CurrentSpeed;
  }
  return s;
}

}  // namespace

bool DisplayDue() {
  if (ShownSpeed != CurrentSpeed) return true;
  for (int n = 1; n <= 3; ++n)
    if ((n != 2 || NMotors == 3) && (Axes[n].Changed || Axes[n].Moving)) return true;
  return false;
}

TDisplayTick DisplayTick() {
  TDisplayTick t;
  ShownSpeed = CurrentSpeed;
  for (int n = 1; n <= 3; ++n) {
    if (n == 2 && NMotors != 3) continue;
    if (!Axes[n].Changed) continue;
    Axes[n].Changed = false;
    t.Refresh[n] = true;
    t.Axis[n] = ShowAxis(Axes[n], ShownSpeed);
  }
  t.Speed = FloatToStrFixed(ShownSpeed, 5, 4);
  return t;
}
