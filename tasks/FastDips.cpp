// Fast dips: the Z controller's own program dips, given its registers,
// started with "RUN" and watched until it stands.
#include <algorithm>
#include <string>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/Machine.h"
#include "record/RunRecord.h"
#include "machine/Motion.h"
#include "tasks/Process.h"
#include "tasks/ProcessSteps.h"
#include "tasks/RunEvents.h"
#include "tasks/TaskRun.h"
#include "veri/Connection.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

const char *const EmergencyText =
    "        *** EMERGENCY STOP ***         \r\n"
    "To continue release red PUSH button \r\n"
    "(turn it right) \r\n"
    "Completely abort Task?.";

// The watch loop works on the axis operations with the controller's address
// as axis number; only real axis numbers may index the axis table.
bool IsAxis(uint8_t a) { return a >= 1 && a <= 3; }

enum class TWatchEnd { Stands, Lost };

// Polls the running program until the controller reports that it stands.
// `shown` is the number of dips still to do last written to the log.
TWatchEnd Watch(TTaskRun &run, uint8_t a, int32_t &shown, TRecordRow &row) {
  TAxisConfig &z = Axes[3];
  const TPositionSink sink = run.PositionSink();
  while (z.Moving) {
    // A failed read is no reading: the record hears only what was read.
    if (IsAxis(a) && VERIGetPosition(a)) sink(a, Axes[a].Position);
    std::string answer;
    if (StopRequest) {
      ReportLine("$ Motor Stop " + VERIDialog(a, "S"));
      answer = "OK1";
    } else {
      answer = VERIDialog(a, "P0?");
    }
    int state = 0;
    if (!(answer.size() >= 3 && answer[2] == 'N')) {
      const std::string poll = VERIDialog(a, "");
      if (!PollStateDigit(poll, state)) {
        // No state digit: the controller is gone or talks nonsense. Its
        // program may still run, so it is told to stop.
        VERICall(a, "S");
        z.Moving = false;
        z.Changed = true;
        ReportLine("*** Fast Dips stopped: no valid answer from axis " + std::to_string(a) + ": " + poll);
        return TWatchEnd::Lost;
      }
    }
    ApplyMotionState(state, z.Moving, IsAxis(a) ? a : 0);
    int32_t toDo = 0;
    std::string error;
    VERIGetParamI(a, 100, toDo, error);
    if (error.empty() && toDo != shown) {
      shown = toDo;
      ReportLine("FastDips to do: " + std::to_string(toDo));
      TRunEvent ev(TRunEventKind::DipStarted);
      ev.Task = row.Task, ev.Process = row.Process, ev.Dips = row.Dips;
      ev.Dip = std::max(0, std::min(row.Dips, row.Dips - toDo + 1));
      SendRunEvent(ev);
      row.Seen += (row.Seen.empty() ? "todo " : " todo ") + std::to_string(toDo) + "@" +
                  std::to_string(run.Record().Now());
      run.Record().Event(row.Process + " fast dips to do: " + std::to_string(toDo));
    }
    ProcessMessages();
    SleepMs(5);
  }
  return TWatchEnd::Stands;
}

}  // namespace

bool RunFastDips(TTaskRun &run, const TProcEntry &e, TRecordRow row, bool topStopped) {
  TRunRecorder &record = run.Record();
  const uint8_t a = Axes[3].HWAddress;
  ReportLine("Setting parameters at axis " + std::to_string(a));
  VERICall(a, "R0 = " + FloatToStrF(e.UpperPos * 10, 4));
  VERICall(a, "R1 = " + FloatToStrF(e.LowPos * 10, 4));
  VERICall(a, "R2 = " + FloatToStrF(e.OutSpeed * 600, 4));
  VERICall(a, "R3 = " + FloatToStrF(e.InSpeed * 600, 4));
  VERICall(a, "C1 = " + std::to_string(e.NoTunks));
  VERICall(a, "M1 = " + std::to_string(1));
  ReportLine("... done.");
  ReportLine("Fast Dips, " + std::to_string(e.NoTunks) + " times, endposition is " + std::to_string(1));
  // A STOP that came before the start, or an operator who chose to abort at
  // the emergency stop, leaves the program unstarted.
  if (topStopped || run.Stopped()) {
    row.End = EndStopped;
    row.ErrorBits = uint16_t(1u << ProcErrDipsStopped);
    record.Add(row);
    return false;
  }

  bool completed = true;
  int32_t shown = e.NoTunks;
  StopRequest = false;
  row.DownAt = record.Now();
  record.Event(row.Process + " fast dips: RUN");
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
  for (;;) {
    if (Watch(run, a, shown, row) == TWatchEnd::Lost) {
      addRow(EndLost);
      return false;
    }
    row.TopAt = record.Now();
    record.Event(row.Process + " fast dips: the controller stands");
    int32_t inputs = 0;
    std::string error;
    VERIGetParamI(a, 1013, inputs, error);
    if (inputs & 4) break;
    Axes[3].StopActive = true;
    // After a STOP (before or while the box is open) the program is not resumed.
    const bool resume = AskOperator(TMsgKind::Error, EmergencyText, mbYes | mbAbort, mbYes) == mbAbort;
    if (resume && !run.Stopped()) {
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
  if (IsAxis(a)) VERIGetPosition(a);
  ReportLine("... done with FastDips");
  if (e.OutTime > 0.0) WaitWithBar(e.OutTime, run.View());
  ProcessMessages();
  if (row.TopAt >= 0) row.HeldTop = record.Now() - row.TopAt;
  const bool done = completed && !run.Stopped();
  addRow(done ? EndDone : EndStopped);
  return done;
}
