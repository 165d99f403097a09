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
#include "record/RunRecord.h"
#include "tasks/Estimate.h"
#include "tasks/ProcessSteps.h"
#include "tasks/DipCycle.h"
#include "tasks/RunEvents.h"
#include "tasks/TaskLanguage.h"
#include "tasks/TaskRun.h"
#include "veri/Outputs.h"

bool AbortRequest = false;

namespace {

std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

int64_t SeenEnd(const TRunRecorder &record, const TMoveResult &m) {
  return m.Ok() && m.SeenStanding ? record.Since(m.StandTick) : -1;
}

// The run's side of the dip cycle: makes each step, notes it in the dip's
// record row, and adds the row when the dip ends.
class TDipRun : public IDipVisitor {
public:
  TDipRun(TTaskRun &run, const TProcEntry &e, const TRecordRow &ofProcess, bool halted)
      : Run(run), E(e), OfProcess(ofProcess), Halted(halted) {}

  void DipBegins(int32_t k) override {
    Row = OfProcess;
    Row.Dip = k;
    Last = TMoveResult();
    ReportLine("  Fast Dip " + std::to_string(k) + " of " + std::to_string(E.NoTunks));
    TRunEvent ev(TRunEventKind::DipStarted);
    ev.Task = Row.Task, ev.Process = Row.Process, ev.Dip = k, ev.Dips = E.NoTunks;
    SendRunEvent(ev);
  }
  void Output(int32_t step) override {
    // After a STOP, or Yes at the emergency-stop box, only a write that
    // switches the output off goes out.
    if (E.ChNo != 0 && (Halted || Run.Stopped()) && ChannelState(E.ChMode, step)) {
      ReportLine("$ Output " + std::to_string(E.ChNo) + " not switched on: STOP");
      return;
    }
    const int64_t at = Run.Record().Now();  // when the write went out
    if (ChannelAction(E.ChNo, E.ChMode, step))
      Row.Outputs += (Row.Outputs.empty() ? "" : " ") + std::to_string(E.ChNo) + "=" +
                     std::to_string(ChannelState(E.ChMode, step)) + "@" + std::to_string(at);
  }
  bool Stroke(TStroke stroke, double speed, double target) override {
    TRunRecorder &record = Run.Record();
    if (stroke == TStroke::Down) {
      Row.DownAt = record.Now();
    } else {
      Row.UpAt = record.Now();
      if (Row.BottomAt >= 0) Row.HeldBottom = Row.UpAt - Row.BottomAt;
    }
    const char *name = stroke == TStroke::Down ? "down stroke" : "up stroke";
    record.Event(Dip() + name + " begins");
    Last = Move(3, speed, target, Run.PositionSink());
    Halted = Halted || Last.Outcome == TMoveOutcome::Stopped;
    (stroke == TStroke::Down ? Row.BottomAt : Row.TopAt) = SeenEnd(record, Last);
    record.Event(Dip() + name + " ends: " + RecordEndOf(Run, Last));
    ProcessMessages();
    return Last.Ok();
  }
  bool Wait(TDipWait at, double seconds) override {
    Run.Record().Event(Dip() + (at == TDipWait::Bottom ? "bottom wait " : "top wait ") +
                       FloatToStrG(seconds) + " s begins");
    WaitWithBar(seconds, Run.View());
    return !Run.Stopped();
  }
  void DipEnds(int32_t, bool ok) override {
    TRunRecorder &record = Run.Record();
    if (Row.TopAt >= 0) Row.HeldTop = record.Now() - Row.TopAt;
    Row.ZReads = record.LiveZ();
    std::vector<TReading> up;
    for (const TReading &z : Row.ZReads)
      if (Row.UpAt >= 0 && z.first >= Row.UpAt && (Row.TopAt < 0 || z.first <= Row.TopAt)) up.push_back(z);
    Row.Withdrawal = WithdrawalSpeed(up);
    Row.End = ok ? EndDone : RecordEndOf(Run, Last);
    if (!ok) Row.ErrorBits = uint16_t(1u << ProcErrDipsStopped);
    record.Add(Row);
    TRunEvent ev(TRunEventKind::DipEnded);
    ev.Task = Row.Task, ev.Process = Row.Process, ev.End = Row.End, ev.Dip = Row.Dip, ev.Dips = E.NoTunks;
    SendRunEvent(ev);
  }

private:
  std::string Dip() const { return Row.Process + " dip " + std::to_string(Row.Dip) + ": "; }
  TTaskRun &Run;
  const TProcEntry &E;
  const TRecordRow &OfProcess;
  TRecordRow Row;
  TMoveResult Last;
  bool Halted;  // a move of the process was stopped
};

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
  // Move limits a stroke's speed to Z's MaxSpeed; the fast dips' program
  // takes the recipe's as it is; a travel drives neither.
  const std::string m = mode;
  if (m == RecordStepByStep)
    r.InDriven = std::fmin(e.InSpeed, Axes[3].MaxSpeed),
    r.OutDriven = std::fmin(e.OutSpeed, Axes[3].MaxSpeed);
  else if (m == RecordFast) r.InDriven = e.InSpeed, r.OutDriven = e.OutSpeed;
  r.InTime = e.InTime, r.OutTime = e.OutTime;
  return r;
}

const char *RecordEndOf(const TTaskRun &run, const TMoveResult &move) {
  if (run.Stopped()) return EndStopped;
  switch (move.Outcome) {
    case TMoveOutcome::Lost: return EndLost;
    case TMoveOutcome::Stopped: return EndStopped;
    case TMoveOutcome::Failed: return EndMoveFailed;
    case TMoveOutcome::Reached: return EndDone;
  }
  return EndMoveFailed;
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

void WaitWithBar(double seconds) { WaitWithBar(seconds, ActiveRun() ? ActiveRun()->View() : nullptr); }

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

void RunProcess(const std::string &name, uint8_t mode, uint8_t level, uint16_t &error, int32_t count) {
  if (mode == TaskModeRun) {
    if (TTaskRun *run = ActiveRun()) {
      run->Process(name, level, error, count);
    } else {
      // A process run on its own (no Start): a run of its own, unrecorded.
      TTaskRun alone("", "", nullptr);
      alone.Process(name, level, error, count);
    }
    return;
  }
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

void TTaskRun::Process(const std::string &name, uint8_t level, uint16_t &error, int32_t count) {
  bool retried = false;  // failed positionings answered Retry: events, not rows
  for (;;) {             // a positioning retried from the STOP dialog runs the whole call again
    CurrentSpeed = MachineSettings.StandardV;
    const uint8_t p = TestProcess(name, error);
    if (p == 0) return;
    // The run works on a copy: a handler run inside a wait cannot change it.
    const TProcEntry e = ProcTable[p];
    if (Stopped()) {
      SetFlag(error, ProcErrDipsStopped, true);
      return;
    }
    ReportLine("  [" + TimeOfDayText() + "](Level: " + std::to_string(level) + ", Process: " + name +
               ")*(n= " + std::to_string(count) + ")");
    TRecordRow travel = RecordRowOf(e, name, level, RecordTravel);
    travel.Top = MachineSettings.StandardZ;
    travel.Dips = 0;
    travel.DownAt = Record().Now();
    const TPosEntry pos = PosTable[e.PosNo];
    Record().Event("travel to " + pos.Name + " begins");
    const TTravelResult t = Travel(pos.Name, pos.X, pos.Y, PositionSink());
    ReportLine("   Position: " + PosTable[e.PosNo].Name);
    // Retry in the STOP dialog answers the STOPs pressed until then.
    if (t.Ok && t.Retried) AcceptRetry(t.RetryStops);
    travel.TopAt = t.Ok ? Record().Now() : -1;
    travel.End = t.Ok ? EndDone : RecordEndOf(*this, t.Last);
    if (!t.Ok) travel.ErrorBits = uint16_t(1u << ProcErrPositioning);
    retried = retried || t.Retried;
    if (retried) travel.Seen = "retried";
    if (!t.Ok) {
      SetFlag(error, ProcErrPositioning, true);
      // After STOP the operator has already answered Abort: no second box.
      if (!Stopped() && !TaskAbort()) {
        SetFlag(error, ProcErrPositioning, false);
        Record().Event("travel to " + pos.Name + " ends: " + travel.End + "; Retry");
        retried = true;
        continue;
      }
      Record().Add(travel);
      ProcessMessages();
      return;
    }
    Record().Add(travel);
    if (Stopped()) {
      SetFlag(error, ProcErrDipsStopped, true);
      ProcessMessages();
      return;
    }
    Record().Event(name + ": to the top");
    const TMoveResult top = Move(3, CurrentSpeed, e.UpperPos, PositionSink());
    bool done;
    if (e.InTime > 0.0) {
      done = RunDips(e, top, RecordRowOf(e, name, level, RecordStepByStep));
    } else {
      const bool topStopped = top.Outcome == TMoveOutcome::Stopped || top.Outcome == TMoveOutcome::Lost;
      done = RunFastDips(*this, e, RecordRowOf(e, name, level, RecordFast), topStopped);
    }
    if (!done || Stopped()) SetFlag(error, ProcErrDipsStopped, true);
    Progress.TermDone();
    TRunEvent ev(TRunEventKind::ProcessDone);
    ev.Task = Task, ev.Process = name, ev.End = done ? EndDone : EndStopped;
    SendRunEvent(ev);
    ProcessMessages();
    return;
  }
}

bool TTaskRun::RunDips(const TProcEntry &e, const TMoveResult &top, const TRecordRow &row) {
  TDipRun dips(*this, e, row, top.Outcome == TMoveOutcome::Stopped);
  const bool ok = WalkDips(e, top.Ok(), dips);
  ReportLine("  Fast Dips done. ");
  if (!ok) ProcessMessages();
  return ok;
}
