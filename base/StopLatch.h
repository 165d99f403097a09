#pragma once
// Every STOP press, in one object: the flag that ends the waiting moves,
// the count of presses, what the run has answered (Retry), whether the task
// STOP asked the run to end, and where the last press came from. A press is
// read in one way everywhere; the old names are thin views of it.
#include <cstdint>
#include <string>

class TStopLatch {
public:
  // A press. `task`: the task STOP, which also asks the run to end (Abort).
  // `from` tells the record where it was pressed.
  void Press(bool task, const std::string &from);
  uint32_t Presses() const { return Count; }
  const std::string &From() const { return Where; }

  // Ends every waiting move; a move clears it when it starts. Not cleared
  // when a move ends, so one press ends every nested move.
  bool Request() const { return Requested; }
  void SetRequest(bool on) { Requested = on; }

  // The run's side. A run begins with every earlier press answered; Retry
  // answers the presses counted when it was asked (false, and nothing
  // answered, when one came after); a run's start and end clear Abort.
  void AnswerAll() { Answered = Count; }
  bool AnswerRetry(uint32_t presses);
  void ClearAbort() { Aborting = false; }
  // A press the run has not answered: nothing moves any more but home.
  bool Unanswered() const { return Count != Answered; }
  // A task STOP not answered: every wait ends at once.
  bool Abort() const { return Aborting; }

private:
  bool Requested = false, Aborting = false;
  uint32_t Count = 0, Answered = 0;
  std::string Where;
};

// The program's one latch.
TStopLatch &StopLatch();

// `StopRequest` and `AbortRequest` as the callers know them.
struct TStopRequestView {
  operator bool() const { return StopLatch().Request(); }
  TStopRequestView &operator=(bool on) {
    StopLatch().SetRequest(on);
    return *this;
  }
};
struct TAbortRequestView {
  operator bool() const { return StopLatch().Abort(); }
};
inline TStopRequestView StopRequest;
inline TAbortRequestView AbortRequest;
