#pragma once
// What the program is busy with. One value for the whole program; handlers
// enter a state through TBusyGuard, and the main window switches its
// controls whenever the state changes (TTFormMain::UpdateControls). The
// manual STOP button's availability is part of it.
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "base/StopLatch.h"

// Connecting: the connection check asks and may reference; nothing else starts.
enum TOpState { Idle, Moving, Referencing, TaskRunning, Unwinding, Connecting };

TOpState OpState();
// Sets the state and tells the listener (also when the value is unchanged,
// so a listener can rely on one call per request).
void SetOpState(TOpState state);
// Called after every SetOpState; the main window installs UpdateControls.
void SetOpStateListener(std::function<void()> listener);
const char *OpStateName(TOpState state);

// Enters `state` for the life of the guard when the present state is one of
// `from`; otherwise changes nothing and Entered() is false. On scope exit the
// state that was present on entry comes back, however the scope is left.
class TBusyGuard {
public:
  explicit TBusyGuard(TOpState state, std::initializer_list<TOpState> from = {Idle});
  ~TBusyGuard();
  TBusyGuard(const TBusyGuard &) = delete;
  TBusyGuard &operator=(const TBusyGuard &) = delete;
  bool Entered() const { return Entered_; }

private:
  TOpState Previous;
  bool Entered_ = false;
};

// The program has been told to end (window closed, signal): no motion may
// start any more, the move home included. A new main window clears it.
void SetProgramEnding(bool ending = true);
bool ProgramEnding();

// Whether the manual STOP button is usable: while a manual move holds it
// (TManualStopHold) and during a reference run, until it is pressed; never
// during a task run. A hold's start, the end of the last hold and a press
// call the listener like a state change does.
bool ManualStopEnabled();
// The manual STOP: ends every waiting move; the button goes grey.
void ManualStopPress();

// Which controls the operator may use, from the operation state alone, so
// the window and the tests read one rule. ManualStop is the button as the
// operator can press it (its jog pad enabled too).
struct TControls {
  bool JogPad = false, Panels = false, TaskStart = false, TaskStop = false, Check = false;
  bool Connect = false, ManualStop = false, Menus = false;
  // The pad's buttons that start a move (jogs, Home, Ref): only from idle.
  bool Jog = false;
};
TControls ControlsFor(TOpState state, bool connected, bool taskStartAllowed);

// A motion under way (a move waiting for its end, its emergency-stop box, a
// reference run): another started inside it would clear StopRequest and so
// cancel a STOP of the same pump, so it does not start.
bool MotionUnderWay();
class TMotionHold {
public:
  TMotionHold();
  ~TMotionHold();
  TMotionHold(const TMotionHold &) = delete;
  TMotionHold &operator=(const TMotionHold &) = delete;
};

// Offers the manual STOP for its lifetime. Nested holders (a jog started
// inside another jog) keep it offered until the outermost one ends, so a
// move that is still running can always be stopped; a new holder offers it
// again after a press.
class TManualStopHold {
public:
  TManualStopHold();
  ~TManualStopHold();
  TManualStopHold(const TManualStopHold &) = delete;
  TManualStopHold &operator=(const TManualStopHold &) = delete;
};
