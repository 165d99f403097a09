#include "base/StopLatch.h"

void TStopLatch::Press(bool task, const std::string &from) {
  Requested = true;
  ++Count;
  Where = from;
  if (task) Aborting = true;
}

bool TStopLatch::AnswerRetry(uint32_t presses) {
  if (presses != Count) return false;  // a STOP came after the answer
  Answered = presses;
  Aborting = false;
  return true;
}

TStopLatch &StopLatch() {
  static TStopLatch latch;
  return latch;
}
