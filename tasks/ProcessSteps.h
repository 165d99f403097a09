#pragma once
// Pieces of process execution shared between its files.
#include <cstdint>
#include <string>

#include "recipes/Definitions.h"
#include "machine/Motion.h"
#include "record/RunRecord.h"

class TTaskRun;

// The process's recipe tests; each clears its bit when it passes. Returns
// the index of the process, 0 when a test failed.
uint8_t TestProcess(const std::string &name, uint16_t &error);

// Runs the fast dips of `e` on the Z controller for `run`; returns false when
// they were interrupted (STOP, a lost controller, the operator ending the
// task at the emergency stop). `row` is the record row to fill and add.
// `topStopped`: the move to the top ended by STOP, by Yes at the
// emergency-stop box, or with the controller lost; the program is not started.
bool RunFastDips(TTaskRun &run, const TProcEntry &e, TRecordRow row, bool topStopped);

// A record row of the running process with what its recipe asks.
TRecordRow RecordRowOf(const TProcEntry &e, const std::string &name, uint8_t level, const char *mode);
// How a dip or travel ended, from the run's STOP and the move's result.
const char *RecordEndOf(const TTaskRun &run, const TMoveResult &move);
