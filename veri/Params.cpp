#include "veri/Params.h"

#include "base/Convert.h"
#include "base/Host.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "veri/Transport.h"

namespace {

// The axes of an "all axes" order, in the order given; Y only on three motors.
template <typename F>
void ForAxes(std::initializer_list<uint8_t> order, F f) {
  for (uint8_t a : order)
    if (a != 2 || NMotors == 3) f(a);
}

std::string ValueText(const std::string &answer, bool withFraction) {
  size_t eq = answer.size() > 1 ? answer.find('=', 1) : std::string::npos;
  if (eq == std::string::npos) return "";
  std::string text;
  bool digits = false;
  for (size_t i = eq + 1; i < answer.size(); ++i) {
    char c = answer[i];
    // The value is one word: a late reply that came in the same cluster
    // follows after a blank, and its digits must not be taken as well.
    if (static_cast<unsigned char>(c) <= 32 && !text.empty()) break;
    if (c >= '0' && c <= '9') {
      text += c;
      digits = true;
    } else if (withFraction && (c == '+' || c == '-' || c == ',' || c == '.')) {
      text += c;
    } else if (!withFraction && c == '-' && !digits && text.empty()) {
      // A negative register value keeps its sign.
      text += c;
    }
  }
  return digits ? text : "";
}

std::string NoValue(int32_t number, const std::string &answer) {
  return "*** VERIGetParam: no value for P" + std::to_string(number) + " in the answer \"" + answer + "\"";
}

}  // namespace

bool VERIParamValue(const std::string &answer, double &value) {
  std::string t = ValueText(answer, true);
  return !t.empty() && TryStrToFloat(t, value);
}

bool VERIParamValueI(const std::string &answer, int32_t &value) {
  std::string t = ValueText(answer, false);
  int v = 0;
  if (t.empty() || !TryStrToInt(t, v)) return false;
  value = v;
  return true;
}

namespace {
// One read: an error text from the line is passed on as it is; an answer
// without a usable value becomes an error text of its own.
template <class T>
void GetParam(uint8_t address, int32_t number, T &value, std::string &error,
              bool (*parse)(const std::string &, T &)) {
  value = 0;
  error.clear();
  std::string answer = VERIDialog(address, "P" + std::to_string(number) + "?");
  if (!answer.empty() && answer[0] == '*') {
    error = answer;
    return;
  }
  T v = 0;
  if (!parse(answer, v)) {
    error = NoValue(number, answer);
    return;
  }
  value = v;
}
}  // namespace

void VERIGetParam(uint8_t address, int32_t number, double &value, std::string &error) {
  GetParam<double>(address, number, value, error, VERIParamValue);
}

void VERIGetParamI(uint8_t address, int32_t number, int32_t &value, std::string &error) {
  GetParam<int32_t>(address, number, value, error, VERIParamValueI);
}

std::string VERIPutParamI(uint8_t address, int32_t number, int32_t value) {
  std::string answer = VERIDialog(address, "P" + std::to_string(number) + "=" + std::to_string(value));
  return !answer.empty() && answer[0] == '*' ? answer : std::string();
}

void VERIMotorOnOff(uint8_t axis, bool on) {
  if (axis == 255) {
    ForAxes({1, 2, 3}, [on](uint8_t a) { VERIMotorOnOff(a, on); });
    return;
  }
  if (axis < 1 || axis > 3) return;
  VERIPutParamI(axis, 134, on ? 7 : 0);
  Axes[axis].MotorOn = on;
  Axes[axis].Changed = true;
}

bool VERIGetPosition(uint8_t axis) {
  if (axis == 255) {
    bool all = true;
    ForAxes({1, 2, 3}, [&all](uint8_t a) { all = VERIGetPosition(a) && all; });
    return all;
  }
  if (axis < 1 || axis > 3) return false;
  double v = 0;
  std::string error;
  VERIGetParam(axis, 51, v, error);
  Axes[axis].Changed = true;
  Axes[axis].PositionUnknown = !error.empty();
  if (!error.empty()) return false;
  Axes[axis].Position = v / 10.0;
  return true;
}

namespace {

enum class TRefEnd { Done, Stopped, Lost };

TRefEnd ReferenceAxis(uint8_t axis) {
  const std::string ax = std::to_string(axis);
  TAxisConfig &a = Axes[axis];
  ReportLine("Axis [" + ax + "] to ref. position ...");
  TRefEnd end = TRefEnd::Done;
  {
    TManualStopHold stop;
    VERIDialog(axis, "H");
    a.Moving = true;
    for (;;) {
      SleepMs(100);
      double state = 0;
      std::string error;
      VERIGetParam(axis, 403, state, error);
      VERIGetPosition(axis);
      ProcessMessages();
      // A controller that stops answering must not pass for referenced,
      // and STOP must be able to end a run that never finishes.
      if (!error.empty()) {
        VERICall(axis, "S");  // it may still be running
        end = TRefEnd::Lost;
        break;
      }
      if (StopRequest) {
        VERICall(axis, "S");
        end = TRefEnd::Stopped;
        break;
      }
      if (state < 3.0) break;
    }
    a.Moving = false;
    a.Referenced = end == TRefEnd::Done;
    a.Changed = true;
  }
  if (end == TRefEnd::Done) ReportDirect("   ... done.");
  else if (end == TRefEnd::Lost)
    ReportLine("*** Axis [" + ax + "] reference run failed: no answer from the controller");
  else ReportLine("*** Axis [" + ax + "] reference run stopped");
  return end;
}

}  // namespace

void VERIGotoReference(uint8_t axis) {
  if (axis != 255 && (axis < 1 || axis > 3)) return;
  // Started inside another motion it would clear that motion's STOP; a
  // program that is ending starts no motion.
  if (MotionUnderWay() || ProgramEnding()) {
    ReportLine("$ Reference run not started");
    return;
  }
  TBusyGuard busy(Referencing, {Idle, Connecting});
  if (!busy.Entered()) return;  // nothing starts inside a task run
  TMotionHold motion;
  StopRequest = false;
  if (axis != 255) {
    ReferenceAxis(axis);
    return;
  }
  // Z first, so the holder is lifted before X and Y travel; STOP, a lost
  // controller or a program told to end ends the whole run, not just the
  // axis under way.
  bool stopped = false;
  ForAxes({3, 2, 1}, [&stopped](uint8_t a) {
    if (!stopped && !ProgramEnding()) stopped = ReferenceAxis(a) != TRefEnd::Done;
  });
}
