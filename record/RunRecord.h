#pragma once
// The run record: one CSV file per task run in runs/, a row per dip, per
// travel to a process's position and one for the run's end, written as the
// run goes so a crash keeps every row before it. The same rows are read back
// for the "Run record" window.
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
  // What was observed, ms since the run started; -1 not seen. Fast dips:
  // DownAt the start ("RUN"), TopAt the controller seen standing. Travel:
  // DownAt the positioning began, TopAt it arrived. End row: TopAt the end.
  int64_t DownAt = -1, BottomAt = -1, UpAt = -1, TopAt = -1;
  int64_t HeldBottom = -1, HeldTop = -1;  // ms at the bottom / at the top
  double Withdrawal = NAN;                // cm/s over the up stroke; NaN below three reads
  std::string Outputs;                    // output writes, "channel=state@ms" words
  std::vector<TReading> ZReads;           // Z position reads of the dip
  std::string Seen;                       // fast dips: "todo N@ms" words; end row: the estimate
  uint16_t ErrorBits = 0;
  std::string End;
};

// The header line and one row as stored (";" separated, "." decimals).
std::string RecordHeader();
std::string FormatRecordRow(const TRecordRow &row);
// False when the line is not a row of a record (wrong field count, bad number).
bool ParseRecordRow(const std::string &line, TRecordRow &row);
// Reads a whole record; false with a plain reason when it cannot be read or
// its first line is not the header. A last line cut short (crash) is skipped.
bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::string &error);
// "runs/YYYY-MM-DD_hh-mm-ss_<task>.csv", characters a file name cannot hold
// replaced by "_".
std::string RunRecordPath(const std::string &task, std::time_t start);
// Withdrawal speed (cm/s) from the reads of an up stroke; NaN below three.
double WithdrawalSpeed(const std::vector<TReading> &reads);

// The record of the current (or last) run. Rows are written and flushed as
// they are added; listeners hear of every change (the live window).
class TRunRecorder {
public:
  // Opens runs/<...>.csv in the working folder; false (one "***" report
  // line) when it cannot be written: the run goes on without a record.
  bool Begin(const std::string &task, std::time_t start, uint32_t tick);
  bool Active() const { return Open; }
  int64_t Since(uint32_t tick) const;  // ms since the run began
  uint32_t StartTick() const { return Started; }
  int64_t Now() const;  // Since(GetTickCount())
  void Add(const TRecordRow &row);
  // Adds the end row and closes the file.
  void Finish(const std::string &end, uint16_t error, const std::string &seen = "");
  const std::vector<TRecordRow> &Rows() const { return RowsSoFar; }
  const std::string &Path() const { return FilePath; }
  const std::string &Task() const { return TaskName; }
  // Live Z reads of the dip in progress (cleared when a dip row is added).
  const std::vector<TReading> &LiveZ() const { return Live; }
  void NoteZ(double cm);
  using TListener = std::function<void()>;
  void SetListener(TListener listener) { Listener = std::move(listener); }

private:
  void Changed() const;
  // A failed write is said once and ends the file; the rows stay kept.
  bool WriteLine(const std::string &text);
  void ReportUnwritable() const;
  bool Open = false;
  int Fd = -1;
  uint32_t Started = 0;
  std::string FilePath, TaskName;
  std::vector<TRecordRow> RowsSoFar;
  std::vector<TReading> Live;
  TListener Listener;
};
TRunRecorder &RunRecorder();
