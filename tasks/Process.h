#pragma once
// What a process term needs below the run: the recipe tests, the check
// line, the outputs of the dip cycle's steps and the waits.
#include <cstdint>
#include <string>


// Task error word bits of process execution.
constexpr int ProcErrNoPosition = 7;    // no position defined
constexpr int ProcErrNoProcess = 8;     // no process defined
constexpr int ProcErrUnknownName = 9;   // no process has the name
constexpr int ProcErrBadPosNo = 10;     // PosNo above PosCount
constexpr int ProcErrBadSpeed = 11;     // InSpeed or OutSpeed not above 0
constexpr int ProcErrDipsStopped = 12;  // dips interrupted (failed move, STOP, emergency abort)
constexpr int ProcErrPositioning = 13;  // positioning failed, operator chose Abort

// The process's recipe tests; each clears its bit when it passes. Returns
// the index of the process, 0 when a test failed.
uint8_t TestProcess(const std::string &name, uint16_t &error);

// A process term outside run mode: mode 1 checks and lists.
void CheckProcess(const std::string &name, uint8_t mode, uint8_t level, uint16_t &error);

// Writes the process's output for one step (1..6) of the dip cycle; true
// when a write went out and was answered.
bool ChannelAction(int32_t channel, int32_t mode, int32_t step);
// State of the output at `step` for channel `mode` (0..5; others as 0).
uint8_t ChannelState(int32_t mode, int32_t step);

// Waits `seconds` in 100 ms steps (N + 1 steps, N = seconds x 10 rounded,
// each ending 100 ms after the one before, however long its events took),
// processing events each step; ends at once when AbortRequest is set.
// Waits above 5 s show the wait label and bar of `view`.
// The N of a wait, limited to what a wait can sensibly mean (NaN counts as 0).
int32_t WaitTenths(double seconds);
constexpr double MaxWaitSeconds = 86400.0;  // one day

// The wait label and bar of the main window.
class IWaitView {
public:
  virtual ~IWaitView() = default;
  // Shows label and bar; the bar at 0 of `max`.
  virtual void ShowWait(const std::string &label, int max) = 0;
  virtual void SetWaitPosition(int position) = 0;
  virtual void HideWait() = 0;
};
void WaitWithBar(double seconds, IWaitView *view);

// Texts of the log lines with wall-clock time, open for tests.
std::string TimeOfDayText();  // "hh:mm:ss"
