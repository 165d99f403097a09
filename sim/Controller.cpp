#include "sim/Controller.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <sstream>

namespace {

std::vector<std::string> Words(const std::string &text) {
  std::vector<std::string> w;
  std::string cur;
  for (unsigned char c : text) {
    if (c <= 32) {
      if (!cur.empty()) w.push_back(cur), cur.clear();
    } else {
      cur += char(c);
    }
  }
  if (!cur.empty()) w.push_back(cur);
  return w;
}

std::string WithoutBlanks(const std::string &text) {
  std::string s;
  for (unsigned char c : text)
    if (c > 32) s += char(c);
  return s;
}

// Millimetres for the log: up to two decimals.
std::string Mm(double v) {
  char b[48];
  std::snprintf(b, sizeof b, "%.2f", v);
  std::string s = b;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

}  // namespace

std::string SimNumber(double v) {
  if (std::fabs(v - std::round(v)) < 1e-9) {
    char b[32];
    std::snprintf(b, sizeof b, "%.0f", std::round(v) == 0 ? 0.0 : std::round(v));
    return b;
  }
  char b[48];
  std::snprintf(b, sizeof b, "%.3f", v);
  std::string s = b;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

bool SimParseNumber(const std::string &text, double &value) {
  if (text.empty()) return false;
  for (char c : text)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+')) return false;
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  in >> value;
  return !in.fail() && in.eof();
}

TSimController::TSimController(int address) : Address(address) {
  Params[1013] = 4;  // emergency stop released
  Params[1019] = 600;
}

std::vector<std::string> TSimController::TakeNotes() {
  std::vector<std::string> n;
  n.swap(Notes);
  return n;
}

std::vector<TSimController::TStroke> TSimController::TakeStrokes() {
  std::vector<TStroke> s;
  s.swap(Strokes);
  return s;
}

int TSimController::StateDigit() const {
  if (Errors != 0) return 4;
  if (Warnings != 0) return Moving() ? 2 : 3;
  return Moving() ? 0 : 1;
}

std::string TSimController::Execute(const std::string &command, double nowMs) {
  Advance(nowMs);
  std::vector<std::string> w = Words(command);
  std::string first = w.empty() ? "" : w[0];
  if (Entering) {
    if (first == "QUIT" && w.size() == 1) {
      Entering = false;
      ListCursor = 0;
    } else {
      Program.push_back(command);
    }
    return "";
  }
  if (w.empty()) return "OK" + std::to_string(StateDigit());
  if (command == "VER" || first == "VER") return "VERISIM_1.0";
  if (first == "H" && w.size() == 1) {
    // The reference run does not wait for motor current, so a program that
    // forgot to switch it on still sees the run end.
    if (EmergencyStop) {
      Notes.push_back("reference run refused: emergency stop pressed");
      return "";
    }
    Halted = mNone;
    RefState = 3;
    StartMotion(mReference, 0.0, RefSpeed);
    return "";
  }
  if (first == "S" && w.size() == 1) {
    Stop();
    Halted = mNone;
    return "";
  }
  if (first == "NEW" && w.size() == 1) {
    Program.clear();
    Entering = true;
    ListCursor = 0;
    return "";
  }
  if (first == "QUIT" && w.size() == 1) return "";
  if (first == "LIST+" && w.size() == 1) {
    if (ListCursor < Program.size()) return Program[ListCursor++];
    ListCursor = 0;
    return "END";
  }
  if (first == "RUN" && w.size() == 1) return Run(nowMs);

  std::string flat = WithoutBlanks(command);
  if (flat.size() >= 3 && flat[0] == 'P' && std::isdigit(static_cast<unsigned char>(flat[1]))) {
    size_t i = 1;
    while (i < flat.size() && std::isdigit(static_cast<unsigned char>(flat[i]))) ++i;
    int n = std::atoi(flat.substr(1, i - 1).c_str());
    if (i + 1 == flat.size() && flat[i] == '?') return Read(n);
    double v = 0;
    if (flat[i] == '=' && SimParseNumber(flat.substr(i + 1), v)) {
      Write(n, v, nowMs);
      return "";
    }
    return "?";
  }
  // Registers of the fast-dip program: "R0 = 125.0000" and the like.
  if (flat.size() >= 3 && flat[2] == '=') {
    std::string reg = flat.substr(0, 2);
    double v = 0;
    if (!SimParseNumber(flat.substr(3), v)) return "?";
    if (reg[0] == 'R' && reg[1] >= '0' && reg[1] <= '3') {
      R[reg[1] - '0'] = v;
      return "";
    }
    if (reg == "C1") {
      C1 = int(std::lround(v));
      return "";
    }
    if (reg == "M1") {
      M1 = int(std::lround(v));
      return "";
    }
  }
  // "V=1800.0000 WA=125.0000 E"
  if (w.size() == 3 && w[0].compare(0, 2, "V=") == 0 && w[1].compare(0, 3, "WA=") == 0 && w[2] == "E") {
    double speed = 0, target = 0;
    if (!SimParseNumber(w[0].substr(2), speed) || !SimParseNumber(w[1].substr(3), target)) return "?";
    return StartMove(speed, target);
  }
  return "?";
}

std::string TSimController::Read(int n) const {
  std::string head = "P" + std::to_string(n) + "=";
  switch (n) {
    case 0: return ProgramRunning() ? "RUN" : "IDLE";
    case 11: return head + std::to_string(Errors);
    case 12: return head + std::to_string(Warnings);
    case 51: return head + SimNumber(Position);
    case 100: return head + std::to_string(DipsToDo);
    case 134: return MotorOn ? "ON" : "OFF";
    case 403: return head + std::to_string(RefState);
    case 1013: return head + SimNumber(Params.at(1013));
  }
  auto it = Params.find(n);
  return head + SimNumber(it == Params.end() ? 0.0 : it->second);
}

void TSimController::Write(int n, double v, double nowMs) {
  int iv = int(std::lround(v));
  switch (n) {
    case 11:
      Errors = iv;
      if (Errors != 0) AddErrors(0, nowMs);
      return;
    case 12: Warnings = iv; return;
    case 51: Position = v; return;
    case 100: DipsToDo = iv; return;
    case 134:
      MotorOn = iv != 0;
      if (!MotorOn && Motion != mReference) Stop();
      return;
    case 403: RefState = iv; return;
    case 1013: return;  // inputs cannot be written
    case 1031:
      if (iv == 1 || iv == 2) {
        if (!CanMove("manual move")) return;
        StartMotion(mManual, iv == 1 ? SoftMin : SoftMax, Params[1019]);
      } else {
        Stop();
      }
      return;
  }
  if (n >= 1200 && n < 1300 && Params[n] != v)
    Notes.push_back("output " + std::to_string(n - 1200) + " = " + SimNumber(v));
  Params[n] = v;
}

bool TSimController::CanMove(const char *what) {
  if (EmergencyStop) {
    Notes.push_back(std::string(what) + " refused: emergency stop pressed");
    return false;
  }
  if (!MotorOn) {
    Notes.push_back(std::string(what) + " refused: motor current off");
    return false;
  }
  return true;
}

std::string TSimController::StartMove(double speed, double target) {
  if (!CanMove("move")) return "";
  if (speed <= 0) {
    Warnings |= 16;  // parameter out of range
    Notes.push_back("move refused: speed " + SimNumber(speed));
    return "";
  }
  Halted = mNone;
  double t = target;
  ClampedTarget = false;
  if (t < SoftMin) t = SoftMin, ClampedTarget = true;
  if (t > SoftMax) t = SoftMax, ClampedTarget = true;
  bool clamped = ClampedTarget;
  StartMotion(mMove, t, speed);
  ClampedTarget = clamped;
  return "";
}

void TSimController::SetParameter(int n, double v, double nowMs) {
  Advance(nowMs);
  if (n == 1013) SetInputs(int(std::lround(v)), nowMs);
  else Write(n, v, nowMs);
}

void TSimController::SetInputs(int bits, double nowMs) {
  Params[1013] = bits;
  SetEmergencyStop((bits & 4) == 0, nowMs);
}

void TSimController::AddErrors(int bits, double nowMs) {
  Advance(nowMs);
  Errors |= bits;
  if (Errors == 0) return;
  // The drive stops; a fast-dip program does not go on by RUN.
  if (ProgramRunning()) Halted = mNone;
  Stop();
}

void TSimController::PowerUp(double nowMs) {
  Advance(nowMs);
  Stop();
  MotorOn = false;
  RefState = 5;
  Errors = Warnings = DipsToDo = 0;
  Halted = mNone;
  Entering = false;
  ListCursor = 0;
  for (double &r : R) r = 0;
  C1 = 0;
  M1 = 1;
  for (auto it = Params.lower_bound(1200); it != Params.end() && it->first < 1300;) it = Params.erase(it);
}

std::string TSimController::Run(double /*nowMs*/) {
  if (!CanMove("program")) return "";
  if (Halted != mNone) {
    // Goes on where the emergency stop halted it.
    TMotion m = Halted;
    Halted = mNone;
    if (m == mDipDown) StartMotion(mDipDown, R[1], R[3]);
    else StartMotion(m, R[0], R[2]);
    return "";
  }
  DipsToDo = C1 > 0 ? C1 : 0;
  StartMotion(mDipTop, R[0], R[2]);
  return "";
}

void TSimController::StartMotion(TMotion m, double target, double speedMmPerMin) {
  // A new target in the direction of travel keeps the speed reached; a
  // reversal starts from standstill.
  double entry = 0;
  if (Motion != mNone && (target >= Position ? 1 : -1) == Profile.Dir)
    entry = Profile.Speed(LastMs - Profile.StartMs);
  Motion = m;
  Target = target;
  SpeedMmPerMs = speedMmPerMin / 60000.0;
  ClampedTarget = false;
  if (SpeedMmPerMs <= 0) SpeedMmPerMs = 1e-6;
  Plan(SpeedMmPerMs, entry);
  Strokes.push_back({LastMs, "moves to " + Mm(target)});
}

void TSimController::Plan(double vmax, double v0) {
  Profile = TProfile();
  Profile.StartMs = LastMs;
  Profile.From = Shown = Position;
  const double d = std::fabs(Target - Position);
  Profile.Dir = Target >= Position ? 1 : -1;
  if (d <= 0) return;
  const double a = Acceleration / 1e6;  // mm/ms^2
  if (a <= 0) {
    Profile.Vp = vmax;
    Profile.Tc = d / vmax;
    return;
  }
  v0 = std::min(v0, vmax);
  if (v0 * v0 / (2 * a) >= d) {  // too fast to stop in time: brake harder
    Profile.Vp = v0;
    Profile.Down = v0 * v0 / (2 * d);
    Profile.Td = v0 / Profile.Down;
    return;
  }
  Profile.V0 = v0;
  Profile.Up = Profile.Down = a;
  const double peak = std::sqrt((2 * a * d + v0 * v0) / 2);
  Profile.Vp = std::min(peak, vmax);
  Profile.Ta = (Profile.Vp - v0) / a;
  Profile.Td = Profile.Vp / a;
  if (peak > vmax) Profile.Tc = (d - (vmax * vmax - v0 * v0) / (2 * a) - vmax * vmax / (2 * a)) / vmax;
}

double TSimController::TProfile::Distance(double t) const {
  if (t <= 0) return 0;
  if (t < Ta) return V0 * t + Up * t * t / 2;
  const double ramp = V0 * Ta + Up * Ta * Ta / 2;
  if (t < Ta + Tc) return ramp + Vp * (t - Ta);
  const double u = std::min(t - Ta - Tc, Td);
  return ramp + Vp * Tc + Vp * u - Down * u * u / 2;
}

double TSimController::TProfile::Speed(double t) const {
  if (t < Ta) return V0 + Up * std::max(t, 0.0);
  if (t < Ta + Tc) return Vp;
  if (t < Total()) return Vp - Down * (t - Ta - Tc);
  return 0;
}

double TSimController::NextStrokeEnd() const {
  return Motion == mNone ? -1 : Profile.StartMs + Profile.Total();
}

void TSimController::Stop() {
  if (Motion == mReference) RefState = 5;
  if (Motion != mNone) Strokes.push_back({LastMs, "stands at " + Mm(Position)});
  Motion = mNone;
}

void TSimController::SetEmergencyStop(bool pressed, double nowMs) {
  Advance(nowMs);
  EmergencyStop = pressed;
  const int inputs = int(std::lround(Params[1013]));
  Params[1013] = pressed ? (inputs & ~4) : (inputs | 4);
  if (pressed && Motion != mNone) {
    if (ProgramRunning()) Halted = Motion;
    Stop();
  }
}

void TSimController::SetLimitSwitch(bool open, double nowMs) {
  Advance(nowMs);
  LimitOpen = open;
  if (open) AddErrors(8192, nowMs);
}

void TSimController::Advance(double nowMs) {
  if (nowMs < LastMs) nowMs = LastMs;
  while (Motion != mNone) {
    if (Position != Shown) Plan(SpeedMmPerMs, 0);  // put elsewhere from outside
    const double t = nowMs - Profile.StartMs;
    if (t < Profile.Total()) {
      Position = Shown = Profile.From + Profile.Dir * Profile.Distance(t);
      break;
    }
    // The stroke ended in the meantime; the next one starts at its end.
    LastMs = Profile.StartMs + Profile.Total();
    Position = Shown = Target;
    Strokes.push_back({LastMs, "stands at " + Mm(Target)});
    Arrived();
    Shown = Position;
  }
  LastMs = nowMs;
}

void TSimController::Arrived() {
  switch (Motion) {
    case mReference:
      Position = 0;
      RefState = 1;
      Motion = mNone;
      break;
    case mMove:
      if (ClampedTarget) Warnings |= 1;  // software limit switch reached
      Motion = mNone;
      break;
    case mManual:
      Warnings |= 1;
      Motion = mNone;
      break;
    case mDipTop:
    case mDipUp:
      if (Motion == mDipUp && DipsToDo > 0) --DipsToDo;
      if (DipsToDo > 0) StartMotion(mDipDown, R[1], R[3]);
      else Motion = mNone;  // ends at the top (M1 = 1)
      break;
    case mDipDown: StartMotion(mDipUp, R[0], R[2]); break;
    case mNone: break;
  }
}
