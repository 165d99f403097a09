#include "base/OpState.h"

#include <utility>

namespace {
TOpState Current = Idle;
std::function<void()> Listener;
int StopHolds = 0;
bool StopPressed = false;
bool Ending = false;
int Motions = 0;

bool InTask() { return Current == TaskRunning || Current == Unwinding; }

// A hold or a press switches the manual STOP: the listener shows it. During
// a task run the jog pad is locked and there is nothing to show.
void ManualStopChanged() {
  if (!InTask() && Listener) Listener();
}
}  // namespace

TOpState OpState() { return Current; }

void SetOpState(TOpState state) {
  Current = state;
  if (Listener) Listener();
}

void SetOpStateListener(std::function<void()> listener) { Listener = std::move(listener); }

const char *OpStateName(TOpState state) {
  switch (state) {
    case Idle: return "Idle";
    case Moving: return "Moving";
    case Referencing: return "Referencing";
    case TaskRunning: return "TaskRunning";
    case Unwinding: return "Unwinding";
    case Connecting: return "Connecting";
  }
  return "?";
}

TBusyGuard::TBusyGuard(TOpState state, std::initializer_list<TOpState> from) : Previous(Current) {
  for (TOpState s : from)
    if (s == Current) Entered_ = true;
  if (Entered_) SetOpState(state);
}

TBusyGuard::~TBusyGuard() {
  if (Entered_) SetOpState(Previous);
}

bool ManualStopEnabled() {
  if (StopPressed || InTask()) return false;
  return StopHolds > 0 || Current == Referencing;
}

void SetProgramEnding(bool ending) { Ending = ending; }
bool ProgramEnding() { return Ending; }

TControls ControlsFor(TOpState s, bool connected, bool taskStartAllowed) {
  TControls c;
  const bool idle = s == Idle, manual = s == Moving || s == Referencing, inTask = InTask();
  // STOP stays usable during a manual move (no move starts inside another),
  // nothing manual during a task run or a connection check.
  c.JogPad = connected && (idle || manual);
  c.Jog = connected && idle;
  c.Panels = !inTask;
  // A second run, a check or a connection check never starts inside
  // another operation; the unwinding run gives Start back when it is over.
  c.TaskStart = idle && taskStartAllowed;
  // The unwinding run still moves (home, a retried positioning): its STOP
  // stays pressable until the run is over.
  c.TaskStop = inTask;
  c.Check = !inTask;
  c.Connect = idle;
  c.ManualStop = c.JogPad && ManualStopEnabled();
  c.Menus = idle;
  return c;
}

bool MotionUnderWay() { return Motions > 0; }
TMotionHold::TMotionHold() { ++Motions; }
TMotionHold::~TMotionHold() { --Motions; }

void ManualStopPress() {
  StopLatch().Press(false, "on the screen");
  StopPressed = true;
  ManualStopChanged();
}

TManualStopHold::TManualStopHold() {
  ++StopHolds;
  StopPressed = false;
  ManualStopChanged();
}

TManualStopHold::~TManualStopHold() {
  if (--StopHolds == 0) ManualStopChanged();
}
