#include "machine/Motion.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "veri/Connection.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

const char *const EmergencyStopText =
    "        *** EMERGENCY STOP ***         \r\nTo continue release button first. \r\n"
    "Completely abort Task?.";
const char *const StopDialogText =
    "        *** STOP ***         \r\nRETRY to continue or  \r\nABORT to cancel Task";

// A reply as one log line: line breaks and other control characters become
// single blanks, trailing blanks go.
std::string OneLine(const std::string &text) {
  std::string s;
  for (char ch : text) {
    const bool control = static_cast<unsigned char>(ch) < 32;
    if (!control) s += ch;
    else if (!s.empty() && s.back() != ' ') s += ' ';
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

enum class TMoveEnd { Finished, Stopped, Lost, Overrun };

// Ends a move that cannot go on: the motor is told to stop and the axis
// record shows it idle, so the display and the next move start clean.
void AbandonMove(uint8_t axis, const std::string &why) {
  VERICall(axis, "S");
  Axes[axis].Moving = false;
  Axes[axis].Speed = 0;
  Axes[axis].Changed = true;
  Axes[axis].PositionUnknown = true;  // it stopped somewhere on the way
  ReportLine("*** Move [" + std::to_string(axis) + "] " + why);
}

// How long an axis `distance` cm before its target still travels, braking
// at `accel` from `speed` at the latest, ms.
double RemainingMs(double distance, double speed, double accel) {
  if (!(accel > 0)) accel = 10;
  const double braking = speed * speed / (2 * accel);
  const double s =
      distance <= braking ? std::sqrt(2 * distance / accel) : (distance - braking) / speed + speed / accel;
  return s * 1000.0;
}

// Polls position and state until the controller reports the end.
// `reply` is the answer of the move command, which went out at `sent`.
TMoveEnd WaitForMove(uint8_t axis, double target, std::string reply, uint32_t sent, uint32_t limitMs,
                     const TPositionSink &sink, TMoveResult &result) {
  TAxisConfig &a = Axes[axis];
  const uint32_t started = GetTickCount();
  TMoveEnd end = TMoveEnd::Finished;
  // Once a read shows the end within one cycle, the loop polls only, with no
  // read and no pause, until shortly after the end was due: the stand is
  // then seen one poll late, not one whole cycle, and the recipe's wait at
  // the bottom or top begins that much sooner.
  // The command's own exchange stands for the first cycle.
  uint32_t cycleStart = sent, cycleMs = 0, pollOnlyUntil = 0;
  bool pollOnly = false;
  while (a.Moving) {
    const uint32_t now = GetTickCount();
    if (pollOnly && int32_t(now - pollOnlyUntil) > 0) pollOnly = false;
    if (!pollOnly) {
      cycleMs = now - cycleStart;
      cycleStart = now;
      try {
        // A failed read is no reading: the sink hears only what was read.
        if (VERIGetPosition(axis)) {
          if (sink) sink(axis, a.Position);
          // Counted from the read's start, as a slow reply may come long after.
          const double due = RemainingMs(std::fabs(target - a.Position), a.Speed, a.Acceleration) -
                             double(uint32_t(GetTickCount() - now));
          if (cycleMs > 0 && due < cycleMs) {
            pollOnly = true;
            pollOnlyUntil = GetTickCount() + uint32_t(std::fmax(due, 0)) + 2 * cycleMs;
          }
        }
      } catch (const EConvertError &e) {
        // A garbled position answer: the controller cannot be trusted now.
        AbandonMove(axis, "stopped, unreadable position: " + std::string(e.what()));
        return TMoveEnd::Lost;
      }
    }
    if (StopRequest) {
      end = TMoveEnd::Stopped;
      VERICall(axis, "S");
      ReportLine("$ Motor Stop " + reply);
      reply = "OK1";
    } else {
      reply = VERIDialog(axis, "");
    }
    int state = 0;
    if (!PollStateDigit(reply, state)) {
      // No state digit: the controller is gone (time-out) or talks nonsense.
      AbandonMove(axis, "stopped, no valid answer from the controller: " + OneLine(reply));
      return TMoveEnd::Lost;
    }
    result.State = state;
    ApplyMotionState(state, a.Moving, axis);
    if (!a.Moving && !result.SeenStanding) {
      result.SeenStanding = true;
      result.StandTick = GetTickCount();
    }
    if (a.Moving && static_cast<uint32_t>(GetTickCount() - started) > limitMs) {
      AbandonMove(axis, "stopped, not finished after " + std::to_string(limitMs / 1000) + " s");
      return TMoveEnd::Overrun;
    }
    ProcessMessages();
    if (a.Moving && !pollOnly) SleepMs(5);
  }
  // A STOP handled in the last pump, after the poll saw the axis stand,
  // still ends what follows this move.
  if (StopRequest) end = TMoveEnd::Stopped;
  return end;
}

// After a move: bit 2 of P1013 clear (or unreadable) means the emergency stop is in.
bool EmergencyStopActive(uint8_t axis) {
  VERIDialog(axis, "P1013?");
  int32_t inputs = 0;
  std::string error;
  VERIGetParamI(axis, 1013, inputs, error);
  return (inputs & 4) == 0;
}

}  // namespace

std::string MotionNumber(double value) {
  if (!std::isfinite(value)) return FloatToStrG(value);
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  const size_t e = s.find('e');
  if (e == std::string::npos) return s;
  // "1e-06" -> "1E-6"
  std::string mantissa = s.substr(0, e), exponent = s.substr(e + 1);
  std::string sign;
  if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) {
    if (exponent[0] == '-') sign = "-";
    exponent.erase(0, 1);
  }
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return mantissa + "E" + sign + exponent;
}

std::string MoveCommand(double speed, double target) {
  return "V=" + FloatToStrF(speed * 600, 4) + " WA=" + FloatToStrF(target * 10, 4) + " E";
}

bool PollStateDigit(const std::string &answer, int &state) {
  if (answer.size() < 3 || answer[2] < '0' || answer[2] > '9') return false;
  state = answer[2] - '0';
  return true;
}

uint32_t MoveTimeLimitMs(uint8_t axis, double speed, double target) {
  // The last read position may be stale (never read, or read before a
  // manual limit-switch move), so allow for a whole travel length on top.
  const double span = std::fabs(TravelMax[axis] - TravelMin[axis]);
  const double distance = std::fabs(target - Axes[axis].Position) + span;
  const double ms = 2.0 * distance / speed * 1000.0 + 10000.0;
  const double cap = std::numeric_limits<uint32_t>::max() / 2.0;
  return ms >= cap || !std::isfinite(ms) ? static_cast<uint32_t>(cap) : static_cast<uint32_t>(ms);
}

// How far a finished move may end from its target (cm).
constexpr double TargetTolerance = 0.05;

void ApplyMotionState(int state, bool &moving, uint8_t examine) {
  switch (state) {
    case 0: moving = true; break;
    case 1: moving = false; break;
    case 2:
      moving = true;
      if (examine) VERIExamineWarning(examine);
      break;
    case 3:
      moving = false;
      if (examine) VERIExamineWarning(examine);
      break;
    case 4:
      moving = false;
      if (examine) VERIExamineError(examine);
      break;
    default: break;
  }
}

TMoveResult Move(uint8_t axis, double speed, double target, const TPositionSink &sink) {
  TMoveResult r;
  if (speed <= 0) return r;
  const std::string ax = std::to_string(axis);
  if (axis < 1 || axis > 3) {
    r.Outcome = TMoveOutcome::Failed;
    ReportLine("*** Move [" + ax + "]: no such axis");
    return r;
  }
  if (std::isnan(speed) || !std::isfinite(target)) {
    r.Outcome = TMoveOutcome::Failed;
    ReportLine("*** Move [" + ax + "]: invalid speed or target");
    return r;
  }
  TAxisConfig &a = Axes[axis];
  speed = DrivenSpeed(axis, speed);
  // Started inside another motion it would clear that motion's STOP.
  if (MotionUnderWay()) {
    ReportLine("$ Move [" + ax + "] not started: another motion is under way");
    r.Outcome = TMoveOutcome::Stopped;
    return r;
  }
  TMotionHold motion;
  // A jog, Home or Goto from idle runs as a manual move; inside a task run
  // the state stays as it is.
  TBusyGuard busy(Moving, {Idle});
  for (;;) {  // the emergency-stop box's Abort repeats the move
    r = TMoveResult();
    a.Speed = speed;
    if (!a.PositionUnknown && std::fabs(target - a.Position) <= MoveDeadBand) {
      ReportLine("$ Move [" + ax + "] from " + MotionNumber(a.Position) + " to: " + MotionNumber(target) +
                 " = delta:" + MotionNumber(target - a.Position) + ";  Speed: " + MotionNumber(speed));
      return r;
    }
    if (ProgramEnding()) {
      ReportLine("$ Move [" + ax + "] not started: the program is ending");
      r.Outcome = TMoveOutcome::Stopped;
      return r;
    }
    // Every commanded move, a repeat after the emergency-stop box included,
    // offers the manual STOP again.
    TManualStopHold offer;
    ReportLine("$ Move [" + ax + "]  to: " + MotionNumber(target) + ";  Speed: " + MotionNumber(speed));
    const uint32_t limitMs = MoveTimeLimitMs(axis, speed, target);
    StopRequest = false;
    TMoveEnd end = TMoveEnd::Finished;
    try {
      r.Commanded = true;
      const uint32_t sent = GetTickCount();
      const std::string reply = VERIDialog(axis, MoveCommand(speed, target));
      a.Moving = true;
      ProcessMessages();
      end = WaitForMove(axis, target, reply, sent, limitMs, sink, r);
    } catch (...) {
      // Whatever ends the wait abnormally must not leave the motor running
      // or the axis marked as moving.
      if (a.Moving) AbandonMove(axis, "stopped by an error");
      throw;
    }
    a.Speed = 0;
    if (end == TMoveEnd::Lost) {
      // Nothing more to ask a controller that does not answer: the input
      // and position reads would only add time-outs and a false alarm.
      r.Outcome = TMoveOutcome::Lost;
      return r;
    }
    r.Outcome = end == TMoveEnd::Stopped   ? TMoveOutcome::Stopped
                : end == TMoveEnd::Overrun ? TMoveOutcome::Failed
                                           : TMoveOutcome::Reached;
    const bool emergency = EmergencyStopActive(axis);
    unsigned answer = mbYes;
    const uint32_t asked = StopLatch().Presses();
    if (emergency) {
      r.Outcome = TMoveOutcome::Stopped;
      a.StopActive = true;
      answer = AskOperator(TMsgKind::Error, EmergencyStopText, mbYes | mbAbort, mbYes);
    }
    a.Changed = true;
    r.PositionRead = VERIGetPosition(axis);
    r.Position = a.Position;
    if (r.PositionRead && sink) sink(axis, a.Position);  // where the move ended, for the record
    if (!r.PositionRead) {
      // Where the axis stands is unknown: the last value read is no answer.
      ReportLine("*** Move [" + ax + "]: the position could not be read after the move");
      if (r.Ok()) r.Outcome = TMoveOutcome::Lost;
    } else if (r.Ok() && std::fabs(a.Position - target) > TargetTolerance) {
      // A controller that refused the move (motor current off after an
      // error, a limit switch) still reports it finished: without this a
      // task would "dip" at the wrong height, or not at all, and report
      // success. A manual move the controller ends early (at its software
      // limit) has the controller's own warning in the log; only a task
      // run, which would dip at the wrong height, makes it an error.
      r.Outcome = TMoveOutcome::Failed;
      ReportLine(std::string(OpState() == Moving ? "$" : "***") + " Move [" + ax +
                 "] did not reach its target " + MotionNumber(target) + ": the controller reports " +
                 MotionNumber(a.Position));
    }
    // Abort answers the STOPs made before the box, not one made while it was open.
    if (!emergency || answer != mbAbort || StopLatch().Presses() != asked) return r;
  }
}

double DrivenSpeed(uint8_t axis, double speed) {
  return speed > Axes[axis].MaxSpeed ? Axes[axis].MaxSpeed : speed;
}

void MoveTo(uint8_t axis, bool &ok, double speed, double target) { ok = Move(axis, speed, target).Ok(); }

std::vector<TLeg> TravelLegs(double x, double y) {
  std::vector<TLeg> legs{{3, MachineSettings.StandardZ}};
  // A machine without a Y axis has no centre line to travel along.
  if (MachineSettings.YCenterline && NMotors == 3) legs.push_back({2, YCenter});
  legs.push_back({1, x});
  if (NMotors == 3) legs.push_back({2, y});
  return legs;
}

std::vector<TLeg> HomeLegs() {
  std::vector<TLeg> legs{{3, MachineSettings.HomeZ}};
  if (NMotors == 3) legs.push_back({2, MachineSettings.HomeY});
  legs.push_back({1, MachineSettings.HomeX});
  return legs;
}

TMoveResult MoveLegs(const std::vector<TLeg> &legs, uint32_t stops, const TPositionSink &sink) {
  TMoveResult r;
  for (const TLeg &leg : legs) {
    if (StopLatch().Presses() != stops) {
      r = TMoveResult();
      r.Outcome = TMoveOutcome::Stopped;
      return r;
    }
    r = Move(leg.Axis, CurrentSpeed, leg.Target, sink);
    if (!r.Ok()) return r;
  }
  return r;
}

// Closing the box goes on (Retry), as the operator's question reads; only a
// program that is ending gives up the task.
bool TaskAbort() {
  return AskOperator(TMsgKind::Error, StopDialogText, mbAbort | mbRetry, mbRetry, mbAbort) == mbAbort;
}

TTravelResult Travel(const std::string &name, double x, double y, const TPositionSink &sink) {
  TBusyGuard busy(Moving, {Idle});
  TTravelResult t;
  uint32_t stops = StopLatch().Presses();
  for (;;) {  // Retry in the STOP dialog runs the whole positioning again
    ReportLine("$ Move to Position " + name);
    t.Last = MoveLegs(TravelLegs(x, y), stops, sink);
    t.Ok = t.Last.Ok();
    // A program that is ending asks nothing and tries nothing again. Retry
    // answers the STOPs made before the question; one made while it was
    // open ends the positioning.
    const uint32_t asked = StopLatch().Presses();
    if (t.Ok || ProgramEnding() || TaskAbort() || StopLatch().Presses() != asked) return t;
    stops = t.RetryStops = asked;
    t.Retried = true;
  }
}

void MoveToTopfPosition(const std::string &name, double x, double y, bool &ok) { ok = Travel(name, x, y).Ok; }

TMoveResult HomePos(const TPositionSink &sink) {
  TMoveResult r;
  r.Outcome = TMoveOutcome::Stopped;
  if (MotionUnderWay()) return r;  // its STOP must not be cancelled
  TBusyGuard busy(Moving, {Idle});
  if (ProgramEnding()) {
    ReportLine("Not moving home: the program is ending");
    return r;
  }
  {
    TManualStopHold stop;
    ReportLine("Moving to home position ..");
    r = MoveLegs(HomeLegs(), StopLatch().Presses(), sink);
  }
  ReportLine("  ... done.");
  return r;
}

void ReferencePos() { VERIGotoReference(255); }
