#include "tasks/ProcessRun.h"

#include <algorithm>
#include <cmath>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/Machine.h"
#include "base/OpState.h"
#include "tasks/DipCycle.h"
#include "tasks/Estimate.h"
#include "tasks/FastDips.h"
#include "tasks/Process.h"
#include "tasks/TaskLanguage.h"
#include "veri/Connection.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

int64_t SeenEnd(const TRunRecorder &record, const TMoveResult &m) {
  return m.Ok() && m.SeenStanding ? record.Since(m.StandTick) : -1;
}

// The run's side of the dip cycle: makes each step, notes it in the dip's
// record row, and adds the row when the dip ends.
class TDipRun : public IDipVisitor {
public:
  // `top`: how the move to the top went, which the first dip starts from.
  TDipRun(TProcessRun &term, const TProcEntry &e, const TRecordRow &ofProcess, const TMoveResult &top)
      : Term(term), E(e), OfProcess(ofProcess), Last(top), Halted(top.Outcome == TMoveOutcome::Stopped) {}
  const char *End = EndDone;  // the last dip's
  TProcessEnd Held;

  void DipBegins(int32_t k) override {
    Row = OfProcess;
    Row.Dip = k;
    if (k > 1) Last = TMoveResult();
    TStep s;
    s.Report = "  Fast Dip " + std::to_string(k) + " of " + std::to_string(E.NoTunks);
    s.Sent = true, s.Kind = TRunEventKind::DipStarted, s.Dip = k;
    Term.Note(s);
  }
  void Output(int32_t step) override {
    // After a STOP, or Yes at the emergency-stop box, only a write that
    // switches the output off goes out.
    if (E.ChNo != 0 && (Halted || RunStopped()) && ChannelState(E.ChMode, step)) {
      ReportLine("$ Output " + std::to_string(E.ChNo) + " not switched on: STOP");
      return;
    }
    const int64_t at = RunRecorder().Now();  // when the write went out
    if (ChannelAction(E.ChNo, E.ChMode, step))
      Row.Outputs += (Row.Outputs.empty() ? "" : " ") + std::to_string(E.ChNo) + "=" +
                     std::to_string(ChannelState(E.ChMode, step)) + "@" + std::to_string(at);
  }
  bool Stroke(TStroke stroke, double speed, double target) override {
    TRunRecorder &record = RunRecorder();
    if (stroke == TStroke::Down) {
      Row.DownAt = record.Now();
    } else {
      Row.UpAt = record.Now();
      if (Row.BottomAt >= 0) Row.HeldBottom = Row.UpAt - Row.BottomAt;
    }
    const std::string name = stroke == TStroke::Down ? "down stroke" : "up stroke";
    TStep begins;
    begins.Event = Dip() + name + " begins";
    Term.Note(begins);
    Last = Move(3, speed, target, RunPositionSink());
    Halted = Halted || Last.Outcome == TMoveOutcome::Stopped;
    (stroke == TStroke::Down ? Row.BottomAt : Row.TopAt) = SeenEnd(record, Last);
    (stroke == TStroke::Down ? Row.BottomRead : Row.TopRead) = Last.PositionRead ? Last.Position : NAN;
    TStep ends;
    ends.Event = Dip() + name + " ends: " + RecordEndOf(Last);
    Term.Note(ends);
    ProcessMessages();
    return Last.Ok();
  }
  bool Wait(TDipWait at, double seconds) override {
    TStep s;
    s.Event = Dip() + (at == TDipWait::Bottom ? "bottom wait " : "top wait ") + FloatToStrG(seconds) + " s begins";
    Term.Note(s);
    WaitWithBar(seconds, Term.View());
    return !RunStopped();
  }
  void DipEnds(int32_t, bool ok) override {
    TRunRecorder &record = RunRecorder();
    if (Row.TopAt >= 0) Row.HeldTop = record.Now() - Row.TopAt;
    Row.ZReads = record.LiveZ();
    std::vector<TReading> up;
    for (const TReading &z : Row.ZReads)
      if (Row.UpAt >= 0 && z.first >= Row.UpAt && (Row.TopAt < 0 || z.first <= Row.TopAt)) up.push_back(z);
    Row.Withdrawal = WithdrawalSpeed(up);
    Row.End = End = ok ? EndDone : RecordEndOf(Last);
    // A dip that did not go as asked is never "done", whatever its last move.
    if (!ok && Row.End == std::string(EndDone)) Row.End = End = EndMoveFailed;
    if (!ok) Row.ErrorBits = uint16_t(1u << ProcErrDipsStopped);
    // Left in the bath: held until the move home lifts it.
    if (Row.BottomAt >= 0 && Row.UpAt < 0) Held.Holding = true, Held.Held = Row;
    else record.Add(Row);
    TStep s;
    s.Sent = true, s.Kind = TRunEventKind::DipEnded, s.Dip = Row.Dip, s.End = Row.End;
    Term.Note(s);
  }

private:
  std::string Dip() const { return Row.Process + " dip " + std::to_string(Row.Dip) + ": "; }
  TProcessRun &Term;
  const TProcEntry &E;
  const TRecordRow &OfProcess;
  TRecordRow Row;
  TMoveResult Last;
  bool Halted;  // a move of the process was stopped
};

}  // namespace

bool RunStopped() { return StopLatch().Unanswered(); }

TPositionSink RunPositionSink() {
  return [](uint8_t axis, double position) { RunRecorder().NoteRead(axis, position); };
}

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
    r.InDriven = DrivenSpeed(3, e.InSpeed), r.OutDriven = DrivenSpeed(3, e.OutSpeed);
  else if (m == RecordFast) r.InDriven = e.InSpeed, r.OutDriven = e.OutSpeed;
  r.InTime = e.InTime, r.OutTime = e.OutTime;
  return r;
}

const char *RecordEndOf(const TMoveResult &move) {
  if (RunStopped()) return EndStopped;
  switch (move.Outcome) {
    case TMoveOutcome::Lost: return EndLost;
    case TMoveOutcome::Stopped: return EndStopped;
    case TMoveOutcome::Failed: return EndMoveFailed;
    case TMoveOutcome::Reached: return EndDone;
  }
  return EndMoveFailed;
}

TProcessRun::TProcessRun(const std::string &task, const std::string &name, uint8_t level, IWaitView *view,
                         TRunProgress *progress)
    : Task(task), Name(name), Level(level), WaitView(view), Progress(progress) {}

void TProcessRun::Note(const TStep &s) {
  if (!s.Report.empty()) ReportLine(s.Report);
  if (!s.Event.empty()) RunRecorder().Event(s.Event);
  if (!s.Sent) return;
  TRunEvent ev(s.Kind);
  ev.Task = Task, ev.Process = Name, ev.Dip = s.Dip, ev.Dips = Dips, ev.End = s.End;
  SendRunEvent(ev);
}

TProcessEnd TProcessRun::Run(uint16_t &error, int32_t count) {
  TRunRecorder &record = RunRecorder();
  TProcessEnd result;
  bool retried = false;  // failed positionings answered Retry: events, not rows
  for (;;) {             // a positioning retried from the STOP dialog runs the whole term again
    CurrentSpeed = MachineSettings.StandardV;
    const uint8_t p = TestProcess(Name, error);
    if (p == 0) return result;
    // The run works on a copy: a handler run inside a wait cannot change it.
    const TProcEntry e = ProcTable[p];
    Dips = e.NoTunks;
    if (RunStopped()) {
      SetFlag(error, ProcErrDipsStopped, true);
      return result;
    }
    ReportLine("  [" + TimeOfDayText() + "](Level: " + std::to_string(Level) + ", Process: " + Name +
               ")*(n= " + std::to_string(count) + ")");
    TRecordRow travel = RecordRowOf(e, Name, Level, RecordTravel);
    travel.Top = MachineSettings.StandardZ;
    travel.Dips = 0;
    travel.DownAt = record.Now();
    const TPosEntry pos = PosTable[e.PosNo];
    TStep begins;
    begins.Event = "travel to " + pos.Name + " begins";
    Note(begins);
    const TTravelResult t = ::Travel(pos.Name, pos.X, pos.Y, RunPositionSink());
    ReportLine("   Position: " + pos.Name);
    // Retry in the STOP dialog answers the STOPs pressed until then.
    if (t.Ok && t.Retried && StopLatch().AnswerRetry(t.RetryStops) && OpState() == Unwinding)
      SetOpState(TaskRunning);
    travel.TopAt = t.Ok ? record.Now() : -1;
    travel.End = t.Ok ? EndDone : RecordEndOf(t.Last);
    if (!t.Ok) travel.ErrorBits = uint16_t(1u << ProcErrPositioning);
    retried = retried || t.Retried;
    if (retried) travel.Seen = "retried";
    if (!t.Ok) {
      SetFlag(error, ProcErrPositioning, true);
      // After STOP the operator has already answered Abort: no second box.
      if (!RunStopped() && !TaskAbort()) {
        SetFlag(error, ProcErrPositioning, false);
        TStep again;
        again.Event = "travel to " + pos.Name + " ends: " + travel.End + "; Retry";
        Note(again);
        retried = true;
        continue;
      }
      record.Add(travel);
      ProcessMessages();
      return result;
    }
    record.Add(travel);
    if (RunStopped()) {
      SetFlag(error, ProcErrDipsStopped, true);
      ProcessMessages();
      return result;
    }
    TStep toTop;
    toTop.Event = Name + ": to the top";
    Note(toTop);
    const TMoveResult top = Move(3, CurrentSpeed, e.UpperPos, RunPositionSink());
    TStep topEnds;
    topEnds.Event = Name + ": to the top ends: " + RecordEndOf(top);
    Note(topEnds);
    std::string end;
    if (e.InTime > 0.0) {
      end = StepByStep(e, top, result);
    } else {
      const bool topStopped = top.Outcome == TMoveOutcome::Stopped || top.Outcome == TMoveOutcome::Lost;
      end = FastDips(e, RecordRowOf(e, Name, Level, RecordFast), topStopped);
    }
    const bool done = end == EndDone;
    if (!done || RunStopped()) SetFlag(error, ProcErrDipsStopped, true);
    if (Progress) Progress->TermDone();
    TStep over;
    over.Sent = true, over.Kind = TRunEventKind::ProcessDone;
    over.End = !done ? end : RunStopped() ? EndStopped : EndDone;
    Note(over);
    ProcessMessages();
    return result;
  }
}

const char *TProcessRun::StepByStep(const TProcEntry &e, const TMoveResult &top, TProcessEnd &held) {
  const TRecordRow row = RecordRowOf(e, Name, Level, RecordStepByStep);
  TDipRun dips(*this, e, row, top);
  const bool ok = WalkDips(e, top.Ok(), dips);
  held = dips.Held;
  ReportLine("  Fast Dips done. ");
  if (!ok) ProcessMessages();
  return ok ? EndDone : dips.End;
}

const char *TProcessRun::FastDips(const TProcEntry &e, TRecordRow row, bool topStopped) {
  TRunRecorder &record = RunRecorder();
  const uint8_t a = Axes[3].HWAddress;
  LoadFastDips(a, e);
  ReportLine("Fast Dips, " + std::to_string(e.NoTunks) + " times, endposition is " + std::to_string(1));
  // A STOP that came before the start, or an operator who chose to abort at
  // the emergency stop, leaves the program unstarted.
  if (topStopped || RunStopped()) {
    row.End = EndStopped;
    row.ErrorBits = uint16_t(1u << ProcErrDipsStopped);
    record.Add(row);
    return EndStopped;
  }

  bool completed = true;
  int32_t shown = e.NoTunks;
  StopRequest = false;
  row.DownAt = record.Now();
  TStep run;
  run.Event = row.Process + " fast dips: RUN";
  Note(run);
  ReportLine("$ Response to RUN command: " + VERIDialog(a, "RUN"));
  Axes[3].Moving = true;
  ProcessMessages();
  // The row tells what the controller let the program see: start, end,
  // the count of dips still to do, the positions read.
  auto addRow = [&](const char *end) {
    row.Dip = e.NoTunks - shown;
    row.ZReads = record.LiveZ();
    row.End = end;
    if (std::string(end) != EndDone) row.ErrorBits = uint16_t(1u << ProcErrDipsStopped);
    record.Add(row);
  };
  const auto toDo = [&](int32_t left) {
    TStep s;
    s.Report = "FastDips to do: " + std::to_string(left);
    s.Event = row.Process + " fast dips to do: " + std::to_string(left);
    s.Sent = true, s.Kind = TRunEventKind::DipStarted;
    s.Dip = std::max(0, std::min(row.Dips, row.Dips - left + 1));
    row.Seen += (row.Seen.empty() ? "todo " : " todo ") + std::to_string(left) + "@" + std::to_string(record.Now());
    Note(s);
  };
  for (;;) {
    if (WatchFastDips(a, RunPositionSink(), shown, toDo) == TWatchEnd::Lost) {
      addRow(EndLost);
      return EndLost;
    }
    row.TopAt = record.Now();
    TStep stands;
    stands.Event = row.Process + " fast dips: the controller stands";
    Note(stands);
    int32_t inputs = 0;
    std::string error;
    VERIGetParamI(a, 1013, inputs, error);
    if (inputs & 4) break;
    Axes[3].StopActive = true;
    // After a STOP (before or while the box is open) the program is not resumed.
    const bool resume = AskOperator(TMsgKind::Error, FastDipsEmergencyText, mbYes | mbAbort, mbYes) == mbAbort;
    if (resume && !RunStopped()) {
      // Go on: the program resumes, and is watched again, so the task never
      // moves on while the controller still dips.
      ReportLine("$ Response to RUN command: " + VERIDialog(a, "RUN"));
      Axes[3].Moving = true;
      ProcessMessages();
      continue;
    }
    VERICall(a, "S");
    completed = false;
    break;
  }
  Axes[3].Changed = true;
  // Where the program left Z, for the record: blank when not read.
  if (IsAxisAddress(a) && VERIGetPosition(a)) {
    row.TopRead = Axes[a].Position;
    RunPositionSink()(a, Axes[a].Position);
  }
  ReportLine("... done with FastDips");
  if (e.OutTime > 0.0) WaitWithBar(e.OutTime, WaitView);
  ProcessMessages();
  if (row.TopAt >= 0) row.HeldTop = record.Now() - row.TopAt;
  const char *end = completed && !RunStopped() ? EndDone : EndStopped;
  addRow(end);
  return end;
}
