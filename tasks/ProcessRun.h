#pragma once
// One process term of a task run, as one object: the travel to its
// position, the move to the top, its dips (step by step or fast) and their
// record rows. Every step is said once, by Note: the report log's line, the
// record's event and the event for those who follow the run come from it.
#include <cstdint>
#include <string>

#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "record/RunRecord.h"
#include "tasks/RunEvents.h"

class IWaitView;
class TRunProgress;

// A step of the term. Empty texts are not written; `Kind` is sent only when
// `Sent`, with the term's task and process.
struct TStep {
  std::string Report, Event;
  bool Sent = false;
  TRunEventKind Kind = TRunEventKind::DipStarted;
  int32_t Dip = 0;
  std::string End;
};

// How a term ended.
struct TProcessEnd {
  // A dip row that ended with the substrate in the bath: the run adds it,
  // with the time held, when the move home begins to lift it.
  bool Holding = false;
  TRecordRow Held;
};

class TProcessRun {
public:
  // `progress` (may be null) hears when the term's dips are over.
  TProcessRun(const std::string &task, const std::string &name, uint8_t level, IWaitView *view,
              TRunProgress *progress);
  // The recipe tests, the travel (again after Retry), the move to the top
  // and the dips; `error`'s bits say what failed. `count`: repetitions still
  // to come, only shown.
  TProcessEnd Run(uint16_t &error, int32_t count);

  void Note(const TStep &step);
  IWaitView *View() const { return WaitView; }

private:
  const char *StepByStep(const TProcEntry &e, const TMoveResult &top, TProcessEnd &held);
  const char *FastDips(const TProcEntry &e, TRecordRow row, bool topStopped);

  std::string Task, Name;
  uint8_t Level;
  int32_t Dips = 0;
  IWaitView *WaitView;
  TRunProgress *Progress;
};

// A press the run has not answered: nothing moves any more but home.
bool RunStopped();
// Position reads of the run's moves go to its record.
TPositionSink RunPositionSink();
// A record row of the running process with what its recipe asks.
TRecordRow RecordRowOf(const TProcEntry &e, const std::string &name, uint8_t level, const char *mode);
// How a dip or travel ended, from the run's STOP and the move's result.
const char *RecordEndOf(const TMoveResult &move);
