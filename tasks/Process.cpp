#include "tasks/Process.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "base/Host.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "record/RunRecord.h"
#include "tasks/Estimate.h"
#include "tasks/ProcessSteps.h"
#include "tasks/TaskLanguage.h"
#include "veri/Outputs.h"

bool AbortRequest = false;
uint32_t StopPresses = 0;
std::string *RecordedOutputs = nullptr;

namespace {

IWaitView *WaitView = nullptr;

std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

// Forwards questions to the operator and notes whether a STOP was answered
// with Retry: the positioning's STOP dialog then means "go on".
class TRetryWatch : public IOperator {
public:
  TRetryWatch() : Inner(Host().Operator) { Host().Operator = this; }
  ~TRetryWatch() override { Host().Operator = Inner; }
  unsigned Ask(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
               unsigned ending) override {
    const uint32_t stops = StopPresses;
    const unsigned answer = Inner ? Inner->Ask(kind, text, buttons, closed, ending) : ending;
    if (answer == mbRetry) RetriedStops = stops;
    return answer;
  }
  uint32_t RetriedStops = 0;

private:
  IOperator *Inner;
};

// A STOP pressed during the run and not answered with Retry ends it.
bool Stopped() { return AbortRequest; }

int64_t SeenEnd(bool ok) { return ok ? RunRecorder().Since(LastMoveEndTick) : -1; }

// Step-by-step dips; false when a move failed or STOP came. Each dip adds
// its row to the run record.
bool RunDipsStepByStep(const TProcEntry &e, bool ok, const TRecordRow &rowOfProcess) {
  TRunRecorder &record = RunRecorder();
  int32_t k = 0;
  do {
    ++k;
    TRecordRow row = rowOfProcess;
    row.Dip = k;
    RecordedOutputs = &row.Outputs;
    ReportLine("  Fast Dip " + std::to_string(k) + " of " + std::to_string(e.NoTunks));
    ChannelAction(e.ChNo, e.ChMode, 1);
    if (ok && Stopped()) ok = false;
    if (ok) {
      ChannelAction(e.ChNo, e.ChMode, 2);
      row.DownAt = record.Now();
      MoveTo(3, ok, e.InSpeed, e.LowPos);
      row.BottomAt = SeenEnd(ok);
      ProcessMessages();
      ChannelAction(e.ChNo, e.ChMode, 3);
      // The bottom wait follows the down stroke even when it failed, so a
      // stopped stroke's output step is still written in order.
      WaitWithBar(e.InTime);
      if (Stopped()) ok = false;
    }
    if (ok) {
      ChannelAction(e.ChNo, e.ChMode, 4);
      row.UpAt = record.Now();
      if (row.BottomAt >= 0) row.HeldBottom = row.UpAt - row.BottomAt;
      MoveTo(3, ok, e.OutSpeed, e.UpperPos);
      row.TopAt = SeenEnd(ok);
      ProcessMessages();
      ChannelAction(e.ChNo, e.ChMode, 5);
      WaitWithBar(e.OutTime);
      if (Stopped()) ok = false;
    }
    ChannelAction(e.ChNo, e.ChMode, 6);
    RecordedOutputs = nullptr;
    if (row.TopAt >= 0) row.HeldTop = record.Now() - row.TopAt;
    row.ZReads = record.LiveZ();
    std::vector<TReading> up;
    for (const TReading &z : row.ZReads)
      if (row.UpAt >= 0 && z.first >= row.UpAt && (row.TopAt < 0 || z.first <= row.TopAt)) up.push_back(z);
    row.Withdrawal = WithdrawalSpeed(up);
    row.End = ok ? EndDone : RecordEndOfLastMove();
    if (!ok) row.ErrorBits = uint16_t(1u << ProcErrDipsStopped);
    record.Add(row);
  } while (k < e.NoTunks && ok);
  ReportLine("  Fast Dips done. ");
  if (!ok) ProcessMessages();
  return ok;
}

}  // namespace

TRecordRow RecordRowOf(const TProcEntry &e, const std::string &name, uint8_t level, const char *mode) {
  TRecordRow r;
  r.Task = RunRecorder().Task();
  r.Level = level;
  r.Process = name;
  r.Position = e.PosNo <= PosCount ? PosTable[e.PosNo].Name : "";
  r.Dips = e.NoTunks;
  r.Mode = mode;
  if (e.PosNo <= PosCount) r.X = PosTable[e.PosNo].X, r.Y = PosTable[e.PosNo].Y;
  r.Top = e.UpperPos, r.Bottom = e.LowPos;
  r.InSpeed = e.InSpeed, r.OutSpeed = e.OutSpeed;
  r.InTime = e.InTime, r.OutTime = e.OutTime;
  return r;
}

const char *RecordEndOfLastMove() {
  if (Stopped()) return EndStopped;
  switch (LastMoveOutcome) {
    case TMoveOutcome::Lost: return EndLost;
    case TMoveOutcome::Stopped: return EndStopped;
    default: return EndMoveFailed;
  }
}

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

IWaitView *SetWaitView(IWaitView *view) {
  IWaitView *previous = WaitView;
  WaitView = view;
  return previous;
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

void ChannelAction(int32_t channel, int32_t mode, int32_t step) {
  if (channel == 0) return;
  const uint8_t state = ChannelState(mode, step);
  ReportLine("$ ChMode, ProcAction, ChNumber, Action:" + std::to_string(mode) + "; " + std::to_string(step) +
             "; " + std::to_string(channel) + "; " + std::to_string(state));
  // A channel number outside the output table names no output.
  if (channel < 1 || channel > DigOutMax) return;
  if (RecordedOutputs)
    *RecordedOutputs += (RecordedOutputs->empty() ? "" : " ") + std::to_string(channel) + "=" +
                        std::to_string(state) + "@" + std::to_string(RunRecorder().Now());
  VERIOut(channel, state);
}

int32_t WaitTenths(double seconds) {
  if (std::isnan(seconds)) return 0;
  if (seconds > MaxWaitSeconds) seconds = MaxWaitSeconds;
  if (seconds < -MaxWaitSeconds) seconds = -MaxWaitSeconds;
  // nearbyint rounds a half to the even neighbour.
  return static_cast<int32_t>(std::nearbyint(seconds * 10.0));
}

void WaitWithBar(double seconds) {
  int32_t n = WaitTenths(seconds);
  const bool shown = seconds > 5.0;
  if (shown && WaitView) {
    const double whole = std::nearbyint(std::fmin(seconds, MaxWaitSeconds));
    WaitView->ShowWait("Wait " + std::to_string(static_cast<long long>(whole)) + "sec", n);
  }
  int position = 0;
  do {
    --n;
    SleepMs(100);
    ++position;
    if (WaitView) WaitView->SetWaitPosition(position);
    ProcessMessages();
    if (AbortRequest) break;
  } while (n >= 0);
  // Hidden also after STOP, so no stale bar is left on screen.
  if (WaitView) WaitView->HideWait();
}

void RunProcess(const std::string &name, uint8_t mode, uint8_t level, uint16_t &error, int32_t count) {
  for (;;) {  // a positioning retried from the STOP dialog runs the whole call again
    CurrentSpeed = MachineSettings.StandardV;
    const uint8_t p = TestProcess(name, error);
    const std::string head = "Level : " + std::to_string(level) + "  " + name;
    if (p == 0) {
      if (mode == TaskModeCheck) ReportLine(head + " *** error: " + std::to_string(error));
      return;
    }
    if (mode == TaskModeCheck) {
      SleepMs(100);
      ReportLine(head + " OK");
      // A count in the millions would keep the window frozen for days:
      // the check lets the window live and STOP end it.
      ProcessMessages();
      if (Stopped()) SetFlag(error, ProcErrDipsStopped, true);
      return;
    }
    if (mode != TaskModeRun) return;

    // The run works on a copy: a handler run inside a wait cannot change it.
    const TProcEntry e = ProcTable[p];
    if (Stopped()) {
      SetFlag(error, ProcErrDipsStopped, true);
      return;
    }
    ReportLine("  [" + TimeOfDayText() + "](Level: " + std::to_string(level) + ", Process: " + name +
               ")*(n= " + std::to_string(count) + ")");
    bool ok = true;
    uint32_t retried = 0;
    TRecordRow travel = RecordRowOf(e, name, level, RecordTravel);
    travel.Top = MachineSettings.StandardZ;
    travel.Dips = 0;
    travel.DownAt = RunRecorder().Now();
    {
      TRetryWatch watch;
      const TPosEntry pos = PosTable[e.PosNo];
      MoveToTopfPosition(pos.Name, pos.X, pos.Y, ok);
      retried = watch.RetriedStops;
    }
    ReportLine("   Position: " + PosTable[e.PosNo].Name);
    travel.TopAt = ok ? RunRecorder().Now() : -1;
    travel.End = ok ? EndDone : RecordEndOfLastMove();
    if (!ok) travel.ErrorBits = uint16_t(1u << ProcErrPositioning);
    RunRecorder().Add(travel);
    // A STOP during the positioning that the operator answered with Retry
    // in the STOP dialog, and no STOP after it, lets the run go on.
    if (ok && AbortRequest && StopPresses > 0 && retried == StopPresses) {
      AbortRequest = false;
      if (OpState() == Unwinding) SetOpState(TaskRunning);
    }
    if (!ok) {
      SetFlag(error, ProcErrPositioning, true);
      // After STOP the operator has already answered Abort: no second box.
      if (!Stopped() && !TaskAbort()) {
        SetFlag(error, ProcErrPositioning, false);
        continue;
      }
      ProcessMessages();
      return;
    }
    if (Stopped()) {
      SetFlag(error, ProcErrDipsStopped, true);
      ProcessMessages();
      return;
    }
    MoveTo(3, ok, CurrentSpeed, e.UpperPos);
    bool done;
    if (e.InTime > 0.0) {
      done = RunDipsStepByStep(e, ok, RecordRowOf(e, name, level, RecordStepByStep));
    } else {
      done = RunFastDips(e, RecordRowOf(e, name, level, RecordFast));
    }
    if (!done || Stopped()) SetFlag(error, ProcErrDipsStopped, true);
    EstimateTermDone();
    ProcessMessages();
    return;
  }
}
