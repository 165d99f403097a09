// Fast dips: the Z controller's own program dips, given its registers,
// started with "RUN" and watched until it stands.
#include <string>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/Machine.h"
#include "record/RunRecord.h"
#include "machine/Motion.h"
#include "tasks/Process.h"
#include "tasks/ProcessSteps.h"
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
TWatchEnd Watch(uint8_t a, int32_t &shown, TRecordRow &row) {
  TAxisConfig &z = Axes[3];
  while (z.Moving) {
    if (IsAxis(a)) {
      VERIGetPosition(a);
      RunRecorder().NoteZ(Axes[a].Position);
    }
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
    switch (state) {
      case 0: z.Moving = true; break;
      case 1: z.Moving = false; break;
      case 2:
        z.Moving = true;
        if (IsAxis(a)) VERIExamineWarning(a);
        break;
      case 3:
        z.Moving = false;
        if (IsAxis(a)) VERIExamineWarning(a);
        break;
      case 4:
        z.Moving = false;
        if (IsAxis(a)) VERIExamineError(a);
        break;
      default: break;
    }
    int32_t toDo = 0;
    std::string error;
    VERIGetParamI(a, 100, toDo, error);
    if (error.empty() && toDo != shown) {
      shown = toDo;
      ReportLine("FastDips to do: " + std::to_string(toDo));
      row.Seen += (row.Seen.empty() ? "todo " : " todo ") + std::to_string(toDo) + "@" +
                  std::to_string(RunRecorder().Now());
    }
    ProcessMessages();
    SleepMs(5);
  }
  return TWatchEnd::Stands;
}

}  // namespace

bool RunFastDips(const TProcEntry &e, TRecordRow row) {
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
  // A STOP that came before the start leaves the program unstarted.
  if (AbortRequest) {
    row.End = EndStopped;
    row.ErrorBits = uint16_t(1u << ProcErrDipsStopped);
    RunRecorder().Add(row);
    return false;
  }

  bool completed = true;
  int32_t shown = e.NoTunks;
  StopRequest = false;
  row.DownAt = RunRecorder().Now();
  ReportLine("$ Response to RUN command: " + VERIDialog(a, "RUN"));
  Axes[3].Moving = true;
  ProcessMessages();
  // The row tells what the controller let the program see: start, end,
  // the count of dips still to do, the positions read.
  auto record = [&](const char *end) {
    row.Dip = e.NoTunks - shown;
    row.ZReads = RunRecorder().LiveZ();
    row.End = end;
    if (std::string(end) != EndDone) row.ErrorBits = uint16_t(1u << ProcErrDipsStopped);
    RunRecorder().Add(row);
  };
  for (;;) {
    if (Watch(a, shown, row) == TWatchEnd::Lost) {
      record(EndLost);
      return false;
    }
    row.TopAt = RunRecorder().Now();
    int32_t inputs = 0;
    std::string error;
    VERIGetParamI(a, 1013, inputs, error);
    if (inputs & 4) break;
    Axes[3].StopActive = true;
    if (AskOperator(TMsgKind::Error, EmergencyText, mbYes | mbAbort, mbYes) == mbAbort) {
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
  if (e.OutTime > 0.0) WaitWithBar(e.OutTime);
  ProcessMessages();
  if (row.TopAt >= 0) row.HeldTop = RunRecorder().Now() - row.TopAt;
  record(completed && !AbortRequest ? EndDone : EndStopped);
  return completed && !AbortRequest;
}
