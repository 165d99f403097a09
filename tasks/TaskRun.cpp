#include "tasks/TaskRun.h"

#include <cstdio>
#include <ctime>
#include <exception>

#include "base/Host.h"
#include "base/OpState.h"
#include "machine/Motion.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "record/RunRecord.h"
#include "tasks/Estimate.h"
#include "tasks/Process.h"
#include "tasks/TaskLanguage.h"

namespace {

const TTaskEntry &ShownTask() {
  static const TTaskEntry none;
  return CurTask < TaskSlots ? TaskTable[CurTask] : none;
}

std::string EstimateSaid;  // the run's last estimate line, kept in its record

// The end of every run: home, the end line. A failing home move is reported
// but never keeps the end line from being written.
void EndRun() {
  TRecordRow home;
  home.Task = RunRecorder().Task();
  home.Mode = RecordTravel;
  home.Position = "home";
  home.X = MachineSettings.HomeX, home.Y = MachineSettings.HomeY, home.Top = MachineSettings.HomeZ;
  home.DownAt = RunRecorder().Now();
  try {
    HomePos();
    home.End = EndDone;
  } catch (const std::exception &e) {
    ReportLine(std::string("*** Move home failed: ") + e.what());
    home.End = EndError;
  }
  home.TopAt = RunRecorder().Now();
  RunRecorder().Add(home);
  EstimateSaid = EstimateEnd();
  ReportLine("-- End Task ---.");
}

// How the run ended, for its record's last row: the first dip or travel
// that did not go as asked, else the walk's own error.
std::string RunEnd(uint16_t error) {
  for (const TRecordRow &r : RunRecorder().Rows())
    if (r.End != EndDone) return r.End;
  return error ? EndError : EndDone;
}

void NoteZRead(uint8_t axis, double position) {
  if (axis == 3) RunRecorder().NoteZ(position);
}

// The run's record is open from the start line to the end line, and the
// position reads of Z go into it.
class TRecordedRun {
public:
  explicit TRecordedRun(const std::string &task) {
    RunRecorder().Begin(task, std::time(nullptr), GetTickCount());
    MovePositionListener = NoteZRead;
  }
  ~TRecordedRun() {
    MovePositionListener = nullptr;
    if (RunRecorder().Active()) RunRecorder().Finish(EndError, Error);
  }
  void Finish() {
    MovePositionListener = nullptr;
    RunRecorder().Finish(RunEnd(Error), Error, EstimateSaid);
  }
  uint16_t Error = 0;
};

}  // namespace

std::string TaskDateTimeText() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char b[32];
  std::snprintf(b, sizeof b, "%02d.%02d.%02d %02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100,
                tm.tm_hour, tm.tm_min);
  return b;
}

void TaskStart() {
  // The state brings STOP up and locks everything else; it is given back
  // however the run ends.
  TBusyGuard run(TaskRunning, {Idle});
  if (!run.Entered()) return;
  AbortRequest = false;
  StopPresses = 0;
  ReportLine("--- Start Task  ---" + TaskDateTimeText());
  ReportLine("Task: " + ShownTask().Name);
  const std::string line = ShownTask().Line;
  TRecordedRun record(ShownTask().Name);
  EstimateBegin(line);
  try {
    if (!line.empty()) record.Error = ParseTask(line, TaskModeRun, RunProcess);
  } catch (...) {
    // An error that ends the run still takes the machine home and closes
    // the run (its record says "error"); the dispatcher then shows it.
    EndRun();
    AbortRequest = false;
    throw;
  }
  EndRun();
  record.Finish();
  AbortRequest = false;
}

void TaskStop() {
  StopRequest = true;
  AbortRequest = true;
  ++StopPresses;
  if (OpState() == TaskRunning) SetOpState(Unwinding);
  ReportLine("Stop Execution");
}

void StopAll() {
  if (OpState() == TaskRunning) TaskStop();
  else ManualStopPress();
}

void CheckSyntax() {
  // Busy like a run, so STOP can end a long listing and nothing starts
  // inside it; nothing moves.
  TBusyGuard busy(TaskRunning);
  if (!busy.Entered()) return;
  AbortRequest = false;
  const TTaskEntry &task = ShownTask();
  ReportLine("Checking Task(" + std::to_string(CurTask) + "): " + task.Name);
  const std::string line = task.Line;
  const uint16_t error = ParseTask(line, TaskModeCheck, RunProcess);
  ReportLine("--- End of Check ---");
  // A task with a fault would not run to its end: no figure for it.
  if (error == 0) ReportLine(EstimateCheckLine(line));
}
