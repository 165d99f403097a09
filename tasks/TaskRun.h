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

  // One process term in run mode (a TProcessRun).
  void Process(const std::string &name, uint8_t level, uint16_t &error, int32_t count);

  // Position reads of the run's moves go to its record.
  TPositionSink PositionSink();
  IWaitView *View() const { return WaitView; }
  TRunRecorder &Record() const { return RunRecorder(); }
  TRunProgress Progress;

private:
  // A dip row left in the bath is added, with the time held, when the move
  // home begins to lift it.
  void LiftHeld();
  std::string Task, Line;
  IWaitView *WaitView;
  uint16_t Error = 0;
  TMoveResult Home;
  TRecordRow Held;
  bool Holding = false;
};

// The run under way, or null.
TTaskRun *ActiveRun();

// The task language's callback: mode 1 checks and lists, mode 2 runs (in
// the run under way, or in a run of its own, unrecorded). `count` is the
// number of repetitions still to come, only shown.
void RunProcess(const std::string &name, uint8_t mode, uint8_t level, uint16_t &error, int32_t count);

// Start: runs the task shown in the task panel (CurTask) and brings the
// machine home afterwards, whatever ended the run. Refused unless idle.
// Before anything moves it asks the sample label and operator (the last
// answers filled in; closing the box runs without them) and, when the run
// record cannot be created, whether to run without one.
void TaskStart(IWaitView *view = nullptr);
// The sample label and operator of the last Start.
struct TRunLabels {
  std::string Sample, Operator;
};
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
