#pragma once
// The recorder of the current (or last) run: appends rows, events and reads
// to the record's files as they happen and retries what the disk refused.
// The files' format is in RecordFormat.h.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "record/RecordFormat.h"

// The record of the current (or last) run. Rows and events are written and
// synced as they are added; a failed write is told once, the lines are kept
// and written at the next event that can. Listeners hear of every change
// (the live window).
class TRunRecorder {
public:
  // Creates runs/<...>.csv in the working folder; false when it cannot be
  // created (CannotOpen() says why): the rows are then kept in memory only.
  bool Begin(const std::string &task, std::time_t start, uint32_t tick);
  const std::string &CannotOpen() const { return Reason; }
  // An event row: written and synced at once.
  void Event(const std::string &text);
  // A position read of any axis for the reads file; Z reads also go to the
  // live reads of the dip in progress.
  void NoteRead(uint8_t axis, double cm);
  // Writes "<record without .csv><suffix>" whole (a crash leaves it whole
  // or absent); false, told once like the rows, when it cannot be.
  bool Keep(const std::string &suffix, const std::string &text);
  // Lines not yet on disk (a failed write), of this run or an earlier one.
  bool Behind() const { return !Pending.empty() || !PendingReads.empty() || !Tails.empty(); }
  // Writes what earlier failed writes kept, of this run or finished ones,
  // and tells each record written again. Cheap when nothing is kept.
  void Retry();
  bool Active() const { return Open; }
  int64_t Since(uint32_t tick) const;  // ms since the run began
  uint32_t StartTick() const { return Started; }
  int64_t Now() const;  // Since(GetTickCount())
  void Add(const TRecordRow &row);
  // Adds the end row and closes the file. Lines the disk did not take stay
  // kept, for Retry and the next Begin.
  void Finish(const std::string &end, uint16_t error, const std::string &seen = "");
  // The rows so far. Only the newest KeepReadsRows rows keep their Z reads
  // in memory (the reads file has them all): a day's run stays small.
  const std::vector<TRecordRow> &Rows() const { return RowsSoFar; }
  static constexpr size_t KeepReadsRows = 256;
  // The first row that still has its Z reads.
  size_t ReadsKeptFrom() const { return RowsSoFar.size() > KeepReadsRows ? RowsSoFar.size() - KeepReadsRows : 0; }
  const std::string &Path() const { return FilePath; }
  const std::string &Task() const { return TaskName; }
  // Live Z reads of the dip in progress (cleared when a dip row is added).
  const std::vector<TReading> &LiveZ() const { return Live; }
  void NoteZ(double cm) { NoteRead(3, cm); }
  using TListener = std::function<void()>;
  void SetListener(TListener listener) { Listener = std::move(listener); }

private:
  void Changed() const;
  void Queue(const TRecordRow &row);
  // Writes what is pending to both files; the record is synced.
  void Flush();
  bool Append(const std::string &path, std::string &pending, bool sync);
  bool Open = false;
  bool Disk = false;    // the file was created
  bool Failed = false;  // told; said again when writing works once more
  uint32_t Started = 0;
  int64_t ReadsFlushed = 0;
  std::string FilePath, ReadsPath, TaskName, Reason;
  std::string Pending, PendingReads;
  std::vector<TRecordRow> RowsSoFar;
  std::vector<TReading> Live;
  struct TTail {  // what a finished run could not write
    std::string Path, ReadsPath, Lines, Reads;
  };
  std::vector<TTail> Tails;
  TListener Listener;
};
TRunRecorder &RunRecorder();
