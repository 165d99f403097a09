#include "recipes/Editors.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/OpState.h"
#include "machine/Motion.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"

std::string FormatFixed(double value, int significant, int decimals) {
  if (!std::isfinite(value) || value == 0) return FloatToStrF(value, decimals);
  // Rounded to the significant digits first: value = 0.<digits> * 10^point.
  char buf[64];
  auto r =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, significant - 1);
  const std::string sci(buf, r.ptr);  // "1.2346e+02"
  const size_t e = sci.find('e');
  std::string digits = sci.substr(0, 1) + (e > 2 ? sci.substr(2, e - 2) : "");
  const int exponent = std::atoi(sci.c_str() + e + 1);
  int point = exponent + 1;
  const std::string sign = value < 0 ? "-" : "";

  if (point > significant) {
    std::string m = digits;
    while (m.size() > 1 && m.back() == '0') m.pop_back();
    std::string text = sign + m.substr(0, 1);
    if (m.size() > 1) text += "." + m.substr(1);
    return text + "E+" + std::to_string(exponent);
  }

  // Then to the decimals, half away from zero on the decimal digits.
  const int keep = point + decimals;
  if (keep < static_cast<int>(digits.size())) {
    const bool up = keep >= 0 && digits[keep] >= '5';
    digits.resize(keep < 0 ? 0 : keep);
    if (up) {
      int i = keep - 1;
      while (i >= 0 && digits[i] == '9') digits[i--] = '0';
      if (i >= 0) {
        ++digits[i];
      } else {
        digits.insert(0, "1");
        ++point;
      }
    }
  }
  auto digitAt = [&](int j) { return j >= 0 && j < static_cast<int>(digits.size()) ? digits[j] : '0'; };
  std::string whole, fraction;
  for (int j = 0; j < point; ++j) whole += digitAt(j);
  if (whole.empty()) whole = "0";
  for (int j = point; j < point + decimals; ++j) fraction += digitAt(j);
  bool zero = true;
  for (char c : whole + fraction)
    if (c != '0') zero = false;
  return (zero ? "" : sign) + whole + (decimals > 0 ? "." + fraction : "");
}

std::string FormatPosition(double value) { return FormatFixed(value, 5, 2); }
std::string FormatSpeed(double value) { return FormatFixed(value, 7, 4); }

double ReadNumber(const std::string &text) {
  double v = 0;
  // "nan" and "inf" parse, but no range limit or move can work with them.
  if (!TryStrToFloat(text, v) || !std::isfinite(v))
    throw EConvertError("'" + text + "' is not a valid floating point value");
  return v;
}

double LimitTo(double value, double low, double high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

std::string CleanName(const std::string &text) {
  std::string name = text;
  for (char &c : name)
    if (static_cast<unsigned char>(c) <= ' ' || c == ';') c = '_';
  return CutText(name, NameLength);
}

std::string TaskLineOf(const std::string &text) {
  return CutText(text.substr(0, text.find_first_of("\r\n")), TaskLineLength);
}

double TakePosCoord(int axis, const std::string &text) {
  const double v = LimitTo(ReadNumber(text), TravelMin[axis], TravelMax[axis]);
  (axis == 2 ? PosTable[CurPos].Y : PosTable[CurPos].X) = v;
  return v;
}

double TakeProcNumber(TProcNumber field, const std::string &text) {
  const TAxisConfig &z = Axes[3];
  TProcEntry &p = ProcTable[CurProc];
  if (field == TProcNumber::UpperPos || field == TProcNumber::LowPos)
    ReportLine("$ MaxPositionG[3]:" + FormatPosition(z.MaxPosition));
  double v = ReadNumber(text);
  switch (field) {
    case TProcNumber::UpperPos: return p.UpperPos = LimitTo(v, z.MinPosition, z.MaxPosition);
    case TProcNumber::LowPos: return p.LowPos = LimitTo(v, z.MinPosition, z.MaxPosition);
    case TProcNumber::InSpeed: return p.InSpeed = LimitTo(v, z.MinSpeed, z.MaxSpeed);
    case TProcNumber::OutSpeed: return p.OutSpeed = LimitTo(v, z.MinSpeed, z.MaxSpeed);
    case TProcNumber::InTime: return p.InTime = v;
    case TProcNumber::OutTime: return p.OutTime = v;
  }
  return v;
}

int32_t TakeNoTunks(const std::string &text) { return ProcTable[CurProc].NoTunks = StrToInt(text); }

bool ChannelListsEnabled(double inTime) { return inTime != 0; }

double TakeSetting(TSetting field, const std::string &text) {
  TMachineSettings &s = MachineSettings;
  const double v = ReadNumber(text);
  switch (field) {
    case TSetting::HomeX: return s.HomeX = v;
    case TSetting::HomeY: return s.HomeY = v;
    case TSetting::HomeZ: return s.HomeZ = v;
    case TSetting::StandardZ: return s.StandardZ = v;
    case TSetting::StandardV: return s.StandardV = LimitTo(v, LowestSpeed, HighestSpeed);
  }
  return v;
}

void GetPosXY() {
  PosTable[CurPos].X = Axes[1].Position;
  if (NMotors == 3) PosTable[CurPos].Y = Axes[2].Position;
}

void GetProcZ(bool upper) {
  (upper ? ProcTable[CurProc].UpperPos : ProcTable[CurProc].LowPos) = Axes[3].Position;
}

void GetProcSpeed(bool down) {
  (down ? ProcTable[CurProc].InSpeed : ProcTable[CurProc].OutSpeed) = ShownSpeed;
}

void GetHomeXYZ() {
  MachineSettings.HomeX = Axes[1].Position;
  if (NMotors == 3) MachineSettings.HomeY = Axes[2].Position;
  MachineSettings.HomeZ = Axes[3].Position;
}

void GetStandardZ() { MachineSettings.StandardZ = Axes[3].Position; }
void GetStandardV() { MachineSettings.StandardV = CurrentSpeed; }

void GotoXY(const std::string &xText, const std::string &yText) {
  const bool withY = NMotors == 3;
  const double x = LimitTo(ReadNumber(xText), TravelMin[1], TravelMax[1]);
  const double y = withY ? LimitTo(ReadNumber(yText), TravelMin[2], TravelMax[2]) : 0;
  TBusyGuard busy(Moving, {Idle});
  if (!busy.Entered()) return;  // nothing starts inside another operation
  TManualStopHold stop;
  bool ok = true;
  MoveTo(3, ok, CurrentSpeed, MachineSettings.StandardZ);
  if (ok && withY) MoveTo(2, ok, CurrentSpeed, y);
  if (ok) MoveTo(1, ok, CurrentSpeed, x);
}

void AddToTaskLine(TBuilderItem item, int processNo) {
  std::string &line = TaskTable[CurTask].Line;
  switch (item) {
    case TBuilderItem::Process:
      if (processNo >= 0 && processNo <= ProcCount) line += ProcTable[processNo].Name;
      break;
    case TBuilderItem::Bra: line += "("; break;
    case TBuilderItem::Plus:
      if (!line.empty()) line += " + ";
      break;
    case TBuilderItem::Ket:
      if (!line.empty()) line += ")";
      break;
    case TBuilderItem::Star:
      if (!line.empty()) line += "*";
      break;
  }
  line = CutText(line, TaskLineLength);
}
