#pragma once
// The Connect button's check of every axis controller, and the decoding of
// a controller's warning (P12) and error (P11) registers.
#include <cstdint>

// What the check shows in the main window besides the report log.
class IConnectionView {
public:
  virtual ~IConnectionView() = default;
  virtual void SetProgress(int position) = 0;  // shows the bar (maximum 100)
  virtual void EnableManualMove() = 0;         // every controller answered
  virtual void Finished() = 0;                 // bar hidden, caption black
};
// Installs the view (null: none); returns the previous one.
IConnectionView *SetConnectionView(IConnectionView *view);

void VERICheckConnection();
void VERIExamineWarning(uint8_t axis);
void VERIExamineError(uint8_t axis);
