#include "tasks/TaskRun.h"

#include <cstdio>
#include <ctime>
#include <exception>

#include "base/Host.h"
#include "base/OpState.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "tasks/Estimate.h"
#include "tasks/Process.h"
#include "tasks/TaskLanguage.h"

namespace {

const TTaskEntry &ShownTask() {
  static const TTaskEntry none;
  return CurTask < TaskSlots ? TaskTable[CurTask] : none;
}

// The end of every run: home, the end line. A failing home move is reported
// but never keeps the end line from being written.
void EndRun() {
  try {
    HomePos();
  } catch (const std::exception &e) {
    ReportLine(std::string("*** Move home failed: ") + e.what());
  }
  EstimateEnd();
  ReportLine("-- End Task ---.");
}

}  // namespace

std::string TaskDateTimeText() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char b[32];
  std::snprintf(b, sizeof b, "%02d.%02d.%02d %02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour,
                tm.tm_min);
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
  EstimateBegin(line);
  try {
    if (!line.empty()) ParseTask(line, TaskModeRun, RunProcess);
  } catch (...) {
    // An error that ends the run still takes the machine home and closes
    // the run; the dispatcher then shows it.
    EndRun();
    AbortRequest = false;
    throw;
  }
  EndRun();
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
