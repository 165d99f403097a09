#pragma once
// The run record: one CSV file per task run in runs/ ("," separated, numbers
// without a decimal separator so every locale reads them: 0.0125 is
// "125E-4"), a row per dip, per travel to a process's position and one for
// the run's end, and event rows between them (a stroke begins or ends, the
// controller counts a fast dip, a question is answered) written as they
// happen, so a crash keeps everything up to its last event. Position reads
// go to "<record>.reads.csv" (time, axis, cm: one row per read). The rows
// are read back for the "Run record" window, from old records too.
#include <cmath>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Kinds of row (the "Mode" column).
extern const char *const RecordStepByStep;  // "step-by-step"
extern const char *const RecordFast;        // "fast"
extern const char *const RecordTravel;      // "travel"
extern const char *const RecordEnd;         // "end"
extern const char *const RecordEvent;       // "event": not a row of ReadRunRecord

// Ends of a dip or of the whole run (the "End" column).
extern const char *const EndDone;        // "done": the dip or run went as asked
extern const char *const EndStopped;     // "stopped": STOP, or Yes at the emergency-stop box
extern const char *const EndMoveFailed;  // "move failed": a stroke or travel did not reach its target
extern const char *const EndLost;        // "controller lost": no valid answer
extern const char *const EndError;       // "error": the run ended by a program error

// A position read: ms since the run started, value in cm.
using TReading = std::pair<int64_t, double>;

struct TRecordRow {
  std::string Task;
  int Level = 0;
  std::string Process, Position;
  int Dip = 0, Dips = 0;  // dip k of n (travel and end rows: 0 of 0)
  std::string Mode;
  // What the recipe asks (cm, cm/s, s). Travel rows: Top is the safe height,
  // X/Y the position's.
  double X = NAN, Y = NAN;
  double Top = NAN, Bottom = NAN, InSpeed = NAN, OutSpeed = NAN, InTime = NAN, OutTime = NAN;
  // The speeds driven: the recipe's limited to the axis's MaxSpeed.
  double InDriven = NAN, OutDriven = NAN;
  // What was observed, ms since the run started; -1 not seen. Fast dips:
  // DownAt the start ("RUN"), TopAt the controller seen standing. Travel:
  // DownAt the positioning began, TopAt it arrived. End row: TopAt the end.
  int64_t DownAt = -1, BottomAt = -1, UpAt = -1, TopAt = -1;
  int64_t HeldBottom = -1, HeldTop = -1;  // ms at the bottom / at the top
  // Z read where the down / up stroke ended (fast dips: TopRead where the
  // program left it); NaN when no read worked.
  double BottomRead = NAN, TopRead = NAN;
  double Withdrawal = NAN;                // cm/s over the up stroke; NaN below three reads
  std::string Outputs;                    // output writes, "channel=state@ms" words
  std::vector<TReading> ZReads;           // Z position reads of the dip
  std::string Seen;                       // fast dips: "todo N@ms" words; end row: the estimate
  uint16_t ErrorBits = 0;
  std::string End;
  int64_t WrittenAt = -1;  // ms since the run started when the row was written
  std::string Event;       // event rows: what happened
};

// The format version written in the header's first column.
constexpr int RecordVersion = 3;

// The header line and one row as stored.
std::string RecordHeader();
std::string FormatRecordRow(const TRecordRow &row);
// False when the line is not a row of a record in the present format or
// the first one (wrong field count, bad number).
bool ParseRecordRow(const std::string &line, TRecordRow &row);
// A number as the record stores it: six significant digits, no decimal
// separator ("125E-4", "80"); "" for NaN.
std::string RecordNumber(double value);
// Reads a whole record, of this format or an earlier one; false with a plain
// reason when it cannot be read or its first line is no record's header.
// Columns it does not know are left aside. A last line cut short (crash) is
// skipped. Event rows are left out; position reads of the reads file go to
// the Z reads of the row written after them.
bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::string &error);
// The same with the event rows kept, in file order.
bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::vector<TRecordRow> &events,
                   std::string &error);
// "<record without .csv>.reads.csv".
std::string RunReadsPath(const std::string &recordPath);
// "runs/YYYY-MM-DD_hh-mm-ss_<task>.csv", characters a file name cannot hold
// replaced by "_".
std::string RunRecordPath(const std::string &task, std::time_t start);
// Withdrawal speed (cm/s) from the reads of an up stroke; NaN below three.
double WithdrawalSpeed(const std::vector<TReading> &reads);

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
