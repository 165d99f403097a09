#pragma once
// The task buttons: Start runs the shown task, STOP ends a run, Check lists
// the task's terms without moving anything. A run has one owner, TTaskRun,
// made by Start: what STOP has done to it, its record, its progress against
// the estimate and its wait view live there.
#include <cstdint>
#include <ctime>
#include <string>

#include "machine/Motion.h"
#include "record/RunRecord.h"
#include "tasks/Estimate.h"

class IWaitView;
struct TProcEntry;

class TTaskRun {
public:
  TTaskRun(const std::string &task, const std::string &line, IWaitView *view);
  ~TTaskRun();
  TTaskRun(const TTaskRun &) = delete;
  TTaskRun &operator=(const TTaskRun &) = delete;

  // Walks the line, then home and the end line, whatever ended the walk.
  // An error that ends the walk is thrown on after the end line.
  void Run();

  // A STOP was pressed during the run and not answered with Retry: nothing
  // moves any more but the move home.
  bool Stopped() const;
  // The operator answered Retry in the STOP dialog with `stops` presses
  // counted: those STOPs are answered, the run goes on.
  void AcceptRetry(uint32_t stops);

  // One process term in run mode.
  void Process(const std::string &name, uint8_t level, uint16_t &error, int32_t count);

  // Position reads of the run's moves go to its record.
  TPositionSink PositionSink();
  IWaitView *View() const { return WaitView; }
  TRunRecorder &Record() const { return RunRecorder(); }
  TRunProgress Progress;

  // A dip row that ended with the substrate in the bath: added, with the
  // time held, when the move home begins to lift it (LiftHeld).
  void HoldAtBottom(const TRecordRow &row);
  void LiftHeld();

private:
  // The step-by-step dips after the move to the top `top`; how the last ended.
  const char *RunDips(const TProcEntry &e, const TMoveResult &top, const TRecordRow &row);
  std::string Task, Line;
  IWaitView *WaitView;
  uint32_t Accepted;  // StopPresses() answered so far
  uint16_t Error = 0;
  TMoveResult Home;
  TRecordRow Held;
  bool Holding = false;
};

// The run under way, or null.
TTaskRun *ActiveRun();

// Start: runs the task shown in the task panel (CurTask) and brings the
// machine home afterwards, whatever ended the run. Refused unless idle.
// Before anything moves it asks the sample label and operator (the last
// answers filled in; closing the box runs without them) and, when the run
// record cannot be created, whether to run without one.
// A start from outside (lab automation) gives the labels: no question.
struct TRunLabels {
  std::string Sample, Operator;
};
void TaskStart(IWaitView *view = nullptr, const TRunLabels *given = nullptr);
// The sample label and operator of the last Start.
const TRunLabels &LastRunLabels();
// The run record's description of the run: program, start time with its
// UTC offset, task, labels, recipe source and the recipe as run, what shapes
// the motion, the estimate's assumptions, the robot, its controllers and
// output wiring.
std::string RunAboutText(const std::string &task, const std::string &line, const TRunLabels &labels,
                         std::time_t start, const std::string &robot);
// RobotName of [Settings] in KVSettings.ini; the host name when absent.
std::string RobotName();
// STOP: asks a run to end; its STOP stays usable until it has unwound.
// `from` tells the record where it was pressed.
void TaskStop(const char *from = "on the screen");
// Whatever runs stops: a task run as by its STOP, anything else as by the
// manual STOP (closing the window while the machine is busy).
void StopAll(const char *from = "on the screen");
// Check: walks the shown task's line in check mode.
void CheckSyntax();

// "dd.mm.yy hh:mm" of the present local time.
std::string TaskDateTimeText();
