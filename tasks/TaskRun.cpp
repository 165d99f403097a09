#include "tasks/TaskRun.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <sys/statvfs.h>
#include <unistd.h>

#include "base/Host.h"
#include "base/TextFile.h"
#include "base/Machine.h"
#include "base/OpState.h"
#include "base/Profile.h"
#include "machine/Motion.h"
#include "machine/Startup.h"
#include "recipes/Definitions.h"
#include "recipes/DefinitionsFile.h"
#include "record/RunRecord.h"
#include "tasks/Estimate.h"
#include "tasks/Process.h"
#include "tasks/ProcessRun.h"
#include "tasks/RunEvents.h"
#include "tasks/TaskLanguage.h"
#include "serial/ClusterPort.h"

namespace {

TTaskRun *Active = nullptr;
TRunLabels Labels;  // remembered for the next Start

const TTaskEntry &ShownTask() {
  static const TTaskEntry none;
  return CurTask < TaskSlots ? TaskTable[CurTask] : none;
}

// How the run ended, for its record's last row: the first dip or travel
// that did not go as asked, else the walk's own error.
// A STOP that ended the run after its last row still makes it "stopped".
std::string RunEnd(uint16_t error, bool stopped) {
  for (const TRecordRow &r : RunRecorder().Rows())
    if (r.End != EndDone) return r.End;
  if (stopped) return EndStopped;
  return error ? EndError : EndDone;
}

const char *HomeEnd(const TMoveResult &home) {
  switch (home.Outcome) {
    case TMoveOutcome::Reached: return EndDone;
    case TMoveOutcome::Stopped: return EndStopped;
    case TMoveOutcome::Lost: return EndLost;
    case TMoveOutcome::Failed: return EndMoveFailed;
  }
  return EndMoveFailed;
}

}  // namespace

TTaskRun *ActiveRun() { return Active; }

TTaskRun::TTaskRun(const std::string &task, const std::string &line, IWaitView *view)
    : Task(task), Line(line), WaitView(view) {
  StopLatch().AnswerAll();
}

TTaskRun::~TTaskRun() {
  if (Active == this) Active = nullptr;
}

bool TTaskRun::Stopped() const { return StopLatch().Unanswered(); }


TPositionSink TTaskRun::PositionSink() { return RunPositionSink(); }

void TTaskRun::Process(const std::string &name, uint8_t level, uint16_t &error, int32_t count) {
  const TProcessEnd end = TProcessRun(Task, name, level, WaitView, &Progress).Run(error, count);
  if (end.Holding) Held = end.Held, Holding = true;
}

void TTaskRun::LiftHeld() {
  if (!Holding) return;
  Holding = false;
  Held.HeldBottom = Record().Now() - Held.BottomAt;
  Record().Add(Held);
}

void RunProcess(const std::string &name, uint8_t mode, uint8_t level, uint16_t &error, int32_t count) {
  if (mode != TaskModeRun) return CheckProcess(name, mode, level, error);
  if (TTaskRun *run = ActiveRun()) return run->Process(name, level, error, count);
  // A process run on its own (no Start): a run of its own, unrecorded.
  TTaskRun alone("", "", nullptr);
  alone.Process(name, level, error, count);
}

void TTaskRun::Run() {
  Active = this;
  // Every question of the run, its answer and how long it stayed open.
  struct TAnswers {
    TAnswerListener Saved = Host().Answered;
    TAnswers() {
      Host().Answered = [](const std::string &text, const std::string &answer, double seconds) {
        char took[32];
        std::snprintf(took, sizeof took, "%.1f", seconds);
        const std::string line = "Question \"" + text + "\" answered " + answer + " after " + took + " s";
        ReportLine(line);  // a long pause with the sample immersed shows in the log
        RunRecorder().Event(line);
      };
    }
    ~TAnswers() { Host().Answered = Saved; }
  } answers;
  Progress.Begin(Line);
  TRunEvent started(TRunEventKind::RunStarted);
  started.Task = Task, started.Line = Line;
  SendRunEvent(started);
  std::exception_ptr failed;
  try {
    if (!Line.empty()) {
      Error = ParseTask(Line, TaskModeRun,
                        [this](const std::string &name, uint8_t, uint8_t level, uint16_t &error,
                               int32_t count) { Process(name, level, error, count); });
    }
  } catch (...) {
    // An error that ends the run still takes the machine home and closes
    // the run (its record says "error"); the dispatcher then shows it.
    failed = std::current_exception();
  }
  TRecordRow home;
  home.Task = Task;
  home.Mode = RecordTravel;
  home.Position = "home";
  home.X = MachineSettings.HomeX, home.Y = MachineSettings.HomeY, home.Top = MachineSettings.HomeZ;
  LiftHeld();
  home.DownAt = RunRecorder().Now();
  RunRecorder().Event("home begins");
  try {
    Home = HomePos(PositionSink());
    home.End = HomeEnd(Home);
  } catch (const std::exception &e) {
    ReportLine(std::string("*** Move home failed: ") + e.what());
    home.End = EndError;
  }
  home.TopAt = RunRecorder().Now();
  RunRecorder().Add(home);
  const std::string estimate = Progress.End();
  ReportLine("-- End Task ---.");
  const std::string end = failed ? EndError : RunEnd(Error, Stopped());
  if (RunRecorder().Active()) RunRecorder().Finish(end, Error, estimate);
  TRunEvent ended(TRunEventKind::RunEnded);
  ended.Task = Task, ended.Line = Line, ended.End = end;
  ended.Text = estimate;
  SendRunEvent(ended);
  Active = nullptr;
  if (failed) std::rethrow_exception(failed);
}

std::string EstimateStatusText() { return Active ? Active->Progress.StatusText() : ""; }
double EstimateRemainingSeconds() { return Active ? Active->Progress.RemainingSeconds() : 0; }

std::string TaskDateTimeText() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char b[32];
  std::snprintf(b, sizeof b, "%02d.%02d.%02d %02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100,
                tm.tm_hour, tm.tm_min);
  return b;
}

const TRunLabels &LastRunLabels() { return Labels; }

std::string RunAboutText(const std::string &task, const std::string &line, const TRunLabels &labels,
                         std::time_t start, const std::string &robot) {
  std::tm tm{};
  localtime_r(&start, &tm);
  char when[48];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S%z", &tm);
  const TDefinitionsSource &src = DefinitionsSource();
  const std::string tables = DefinitionsText();
  const char *fast = "off";
  if (VeriPort()) {
    const TFastReplies f = VeriPort()->FastRepliesSetting();
    fast = f == TFastReplies::On ? "on" : f == TFastReplies::Automatic ? "automatic" : "off";
  }
  std::string t =
      "[Run]\nProgram version=" KV_PROGRAM_VERSION "\nStarted=" + std::string(when) + "\nTask=" + task +
      "\nTask line=" + line + "\nSample=" + labels.Sample + "\nOperator=" + labels.Operator +
      "\n[Recipe]\nFile=" + src.Path + "\nFile SHA-256=" + src.Sha256 +
      "\nAppended to other definitions=" + (src.Appended ? "yes" : "no") + "\nChanged since=" +
      (src.Path.empty()           ? ""
       : tables == src.TablesText ? "no"
                                  : "yes") +
      "\nAs run=.dip beside this file\nAs run SHA-256=" + Sha256Hex(tables) +
      "\n[Motion]\nStandard speed cm/s=" + RecordNumber(MachineSettings.StandardV) +
      "\nSafe height cm=" + RecordNumber(MachineSettings.StandardZ) + "\nFast replies=" + fast +
      "\nY centre line=" + (MachineSettings.YCenterline ? "yes" : "no") + "\n";
  for (int a = 1; a <= 3; ++a) {
    const std::string n = std::string(1, "XYZ"[a - 1]);
    t += "MaxSpeed " + n + " cm/s=" + RecordNumber(Axes[a].MaxSpeed) + "\nTravel " + n +
         " cm=" + RecordNumber(TravelMin[a]) + " to " + RecordNumber(TravelMax[a]) + "\n";
  }
  // The estimate's assumption, not a controller setting.
  t += "[Estimate]\n";
  for (int a = 1; a <= 3; ++a)
    t += std::string("Acceleration ") + "XYZ"[a - 1] + " cm/s2=" + RecordNumber(Axes[a].Acceleration) + "\n";
  t += "[Machine]\nRobot name=" + robot + "\n";
  for (int a = 1; a <= 3; ++a)
    t += std::string("Controller ") + "XYZ"[a - 1] + "=address " + std::to_string(Axes[a].HWAddress) +
         ", firmware " + (Axes[a].Version.empty() ? std::string("not read") : Axes[a].Version) + "\n";
  for (int c = 1; c <= DigOutCount && c <= DigOutMax; ++c)
    t += "Output " + std::to_string(c) + "=controller " + std::to_string(DigOutTable[c].Address) + ", pin " +
         std::to_string(DigOutTable[c].Pin) + ", " + DigOutTable[c].Name + "\n";
  // Six significant digits: the .dip file's fixed decimals would round a
  // slow speed (0.00083 cm/s kept as 0.0008).
  t += "[Recipe as run]\n";
  for (int i = 1; i <= PosCount; ++i)
    t += "Position " + std::to_string(i) + "=" + PosTable[i].Name + ": X " + RecordNumber(PosTable[i].X) +
         " cm, Y " + RecordNumber(PosTable[i].Y) + " cm\n";
  for (int i = 1; i <= ProcCount; ++i) {
    const TProcEntry &p = ProcTable[i];
    t += "Process " + std::to_string(i) + "=" + p.Name + ": position " + std::to_string(p.PosNo) + ", top " +
         RecordNumber(p.UpperPos) + " cm, bottom " + RecordNumber(p.LowPos) + " cm, down " +
         RecordNumber(p.InSpeed) + " cm/s, up " + RecordNumber(p.OutSpeed) + " cm/s, bottom wait " +
         RecordNumber(p.InTime) + " s, top wait " + RecordNumber(p.OutTime) + " s, channel " +
         std::to_string(p.ChNo) + " mode " + std::to_string(p.ChMode) + ", dips " + std::to_string(p.NoTunks) +
         "\n";
  }
  return t;
}

std::string RobotName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = 0;
  return ProfileReadString(SettingsIniFile, "Settings", "RobotName", host);
}

void TaskStart(IWaitView *view) {
  // The state brings STOP up and locks everything else; it is given back
  // however the run ends.
  TBusyGuard busy(TaskRunning, {Idle});
  if (!busy.Entered()) return;
  StopLatch().ClearAbort();
  ReportLine("--- Start Task  ---" + TaskDateTimeText());
  ReportLine("Task: " + ShownTask().Name);
  // Nothing moves before the record is open, or the operator chose to run
  // without one.
  std::vector<std::pair<std::string, std::string>> asked = {{"Sample", Labels.Sample},
                                                            {"Operator", Labels.Operator}};
  TRunLabels labels;
  if (AskOperatorTexts("Start " + ShownTask().Name, asked))
    labels.Sample = asked[0].second, labels.Operator = asked[1].second, Labels = labels;
  if (ProgramEnding()) return;
  // The record and the day log need room for the whole run.
  struct statvfs fs {};
  const int64_t margin = int64_t(ProfileReadInt(SettingsIniFile, "Logs", "FreeMarginMB", 500)) * 1024 * 1024;
  if (::statvfs(".", &fs) == 0 && int64_t(fs.f_bavail) * int64_t(fs.f_frsize) < margin)
    ReportLine("*** Only " + std::to_string(int64_t(fs.f_bavail) * int64_t(fs.f_frsize) / (1024 * 1024)) +
               " MB free in the working folder: the run record and the report log may not be kept");
  const std::time_t start = std::time(nullptr);
  if (!RunRecorder().Begin(ShownTask().Name, start, GetTickCount()) &&
      AskOperator(TMsgKind::Warning,
                  "The run record " + RunRecorder().Path() + " cannot be written: " +
                      RunRecorder().CannotOpen() + ".\r\nRun the task without a record?",
                  mbYes | mbCancel, mbCancel) != mbYes) {
    ReportLine("*** Task not started: no run record");
    return;
  }
  if (RunRecorder().CannotOpen().size()) ReportLine("*** The task runs without a run record");
  ReportLine("Sample: " + labels.Sample + "  Operator: " + labels.Operator);
  RunRecorder().Keep(".about.ini", RunAboutText(ShownTask().Name, ShownTask().Line, labels, start, RobotName()));
  RunRecorder().Keep(".dip", DefinitionsText());
  TTaskRun run(ShownTask().Name, ShownTask().Line, view);
  struct TClear {
    ~TClear() { StopLatch().ClearAbort(); }
  } clear;
  run.Run();
}

void TaskStop(const char *from) {
  StopLatch().Press(true, from);
  if (OpState() == TaskRunning) SetOpState(Unwinding);
  ReportLine("Stop Execution");
  RunRecorder().Event(std::string("STOP pressed ") + from);
}

void StopAll(const char *from) {
  const TOpState s = OpState();
  if (s == TaskRunning || s == Unwinding) TaskStop(from);
  else ManualStopPress();
}

void CheckSyntax() {
  // Busy like a run, so STOP can end a long listing and nothing starts
  // inside it; nothing moves.
  TBusyGuard busy(TaskRunning);
  if (!busy.Entered()) return;
  StopLatch().ClearAbort();
  const TTaskEntry &task = ShownTask();
  ReportLine("Checking Task(" + std::to_string(CurTask) + "): " + task.Name);
  const std::string line = task.Line;
  const uint16_t error = ParseTask(line, TaskModeCheck, RunProcess);
  ReportLine("--- End of Check ---");
  // A task with a fault would not run to its end: no figure for it.
  if (error == 0) ReportLine(EstimateCheckLine(line));
}
