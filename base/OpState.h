#pragma once
// What the program is busy with. One value for the whole program; handlers
// enter a state through TBusyGuard, and the main window switches its
// controls whenever the state changes (TTFormMain::UpdateControls).
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
