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
