#include "tasks/Process.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "tasks/TaskLanguage.h"
#include "veri/Outputs.h"

namespace {

std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

}  // namespace

// The process's recipe tests; each clears its bit when it passes. Returns
// the index of the process, 0 when a test failed.
uint8_t TestProcess(const std::string &name, uint16_t &error) {
  SetFlag(error, ProcErrNoPosition, PosCount == 0);
  if (PosCount == 0) return 0;
  SetFlag(error, ProcErrNoProcess, ProcCount == 0);
  if (ProcCount == 0) return 0;
  const uint8_t p = FindProcessByName(name);
  SetFlag(error, ProcErrUnknownName, p == 0);
  if (p == 0) return 0;
  const TProcEntry &e = ProcTable[p];
  const bool badPos = e.PosNo > PosCount;
  SetFlag(error, ProcErrBadPosNo, badPos);
  if (badPos) return 0;
  const bool badSpeed = !(e.InSpeed > 0 && e.OutSpeed > 0);
  SetFlag(error, ProcErrBadSpeed, badSpeed);
  if (badSpeed) return 0;
  return p;
}

std::string TimeOfDayText() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return Two(tm.tm_hour) + ":" + Two(tm.tm_min) + ":" + Two(tm.tm_sec);
}

uint8_t ChannelState(int32_t mode, int32_t step) {
  int on = 0, off = 0;
  switch (mode) {
    case 1: on = 2, off = 3; break;
    case 2: on = 4, off = 5; break;
    case 3: on = 1, off = 6; break;
    case 4: on = 3, off = 4; break;
    case 5: on = 5, off = 6; break;
    default: return 0;
  }
  return step >= on && step < off ? 1 : 0;
}

bool ChannelAction(int32_t channel, int32_t mode, int32_t step) {
  if (channel == 0) return false;
  const uint8_t state = ChannelState(mode, step);
  ReportLine("$ ChMode, ProcAction, ChNumber, Action:" + std::to_string(mode) + "; " + std::to_string(step) +
             "; " + std::to_string(channel) + "; " + std::to_string(state));
  // A channel number outside the output table names no output.
  if (channel < 1 || channel > DigOutMax) return false;
  return VERIOut(channel, state);
}

int32_t WaitTenths(double seconds) {
  if (std::isnan(seconds)) return 0;
  if (seconds > MaxWaitSeconds) seconds = MaxWaitSeconds;
  if (seconds < -MaxWaitSeconds) seconds = -MaxWaitSeconds;
  // nearbyint rounds a half to the even neighbour.
  return static_cast<int32_t>(std::nearbyint(seconds * 10.0));
}

void WaitWithBar(double seconds, IWaitView *WaitView) {
  int32_t n = WaitTenths(seconds);
  const bool shown = seconds > 5.0;
  if (shown && WaitView) {
    const double whole = std::nearbyint(std::fmin(seconds, MaxWaitSeconds));
    WaitView->ShowWait("Wait " + std::to_string(static_cast<long long>(whole)) + "sec", n);
  }
  int position = 0;
  // Each step ends at its deadline from the start: the time the events of a
  // step take is not added to the wait.
  const uint32_t started = GetTickCount();
  do {
    --n;
    ++position;
    const int32_t left = int32_t(started + uint32_t(position) * 100u - GetTickCount());
    if (left > 0) SleepMs(uint32_t(left));
    if (WaitView) WaitView->SetWaitPosition(position);
    ProcessMessages();
    if (AbortRequest) break;
  } while (n >= 0);
  // Hidden also after STOP, so no stale bar is left on screen.
  if (WaitView) WaitView->HideWait();
}

void CheckProcess(const std::string &name, uint8_t mode, uint8_t level, uint16_t &error) {
  CurrentSpeed = MachineSettings.StandardV;
  const uint8_t p = TestProcess(name, error);
  const std::string head = "Level : " + std::to_string(level) + "  " + name;
  if (p == 0) {
    if (mode == TaskModeCheck) ReportLine(head + " *** error: " + std::to_string(error));
    return;
  }
  if (mode != TaskModeCheck) return;
  SleepMs(100);
  ReportLine(head + " OK");
  // A count in the millions would keep the window frozen for days: the
  // check lets the window live and STOP end it.
  ProcessMessages();
  if (AbortRequest) SetFlag(error, ProcErrDipsStopped, true);
}
