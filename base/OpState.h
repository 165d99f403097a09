#pragma once
// What the program is busy with. One value for the whole program; handlers
// enter a state through TBusyGuard, and the main window switches its
// controls whenever the state changes (TTFormMain::UpdateControls). The
// manual STOP button's availability is part of it.
#include <functional>
#include <initializer_list>

enum TOpState { Idle, Moving, Referencing, TaskRunning, Unwinding };

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

// Set by the STOP buttons, cleared when a move starts, read by every waiting
// move. Not cleared when a move ends, so one press ends every nested move.
extern bool StopRequest;

// Whether the manual STOP button is usable: while a manual move holds it
// (TManualStopHold) and during a reference run, until it is pressed; never
// during a task run. A hold's start, the end of the last hold and a press
// call the listener like a state change does.
bool ManualStopEnabled();
// The manual STOP: ends every waiting move; the button goes grey.
void ManualStopPress();

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
