#include "base/OpState.h"

#include <utility>

namespace {
TOpState Current = Idle;
std::function<void()> Listener;
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
