#include "record/RunRecord.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/TextFile.h"

const char *const RecordStepByStep = "step-by-step";
const char *const RecordFast = "fast";
const char *const RecordTravel = "travel";
const char *const RecordEnd = "end";
const char *const EndDone = "done";
const char *const EndStopped = "stopped";
const char *const EndMoveFailed = "move failed";
const char *const EndLost = "controller lost";
const char *const EndError = "error";

namespace {

const char *const Columns[] = {"Task",
                               "Level",
                               "Process",
                               "Position",
                               "Dip",
                               "Dips",
                               "Mode",
                               "X cm",
                               "Y cm",
                               "Z top cm",
                               "Z bottom cm",
                               "Down speed cm/s",
                               "Up speed cm/s",
                               "Bottom wait s",
                               "Top wait s",
                               "Down commanded ms",
                               "Bottom reached ms",
                               "Up commanded ms",
                               "Top reached ms",
                               "Held bottom ms",
                               "Held top ms",
                               "Withdrawal cm/s",
                               "Outputs",
                               "Z reads ms:cm",
                               "Seen",
                               "Error bits",
                               "End"};
constexpr size_t ColumnCount = sizeof Columns / sizeof Columns[0];

std::string Num(double v) {
  if (!std::isfinite(v)) return "";
  std::string s = FloatToStrF(v, 3);
  while (s.size() > 1 && s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}
std::string Ms(int64_t v) { return v < 0 ? "" : std::to_string(v); }

// Text fields are quoted when they hold the separator, a quote or a line end.
std::string Text(const std::string &s) {
  if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += (c == '\r' || c == '\n') ? ' ' : c;
  }
  return q + "\"";
}

bool SplitFields(const std::string &line, std::vector<std::string> &fields) {
  fields.assign(1, "");
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') fields.back() += c;
      else if (i + 1 < line.size() && line[i + 1] == '"') fields.back() += '"', ++i;
      else quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return !quoted;
}

bool ReadNum(const std::string &f, double &v) {
  if (f.empty()) return v = NAN, true;
  return TryStrToFloat(f, v);
}
bool ReadMs(const std::string &f, int64_t &v) {
  if (f.empty()) return v = -1, true;
  double d = 0;
  if (!TryStrToFloat(f, d) || d < 0) return false;
  v = static_cast<int64_t>(d);
  return true;
}
bool ReadInt(const std::string &f, int &v) { return f.empty() ? (v = 0, true) : TryStrToInt(f, v); }

std::string FileNameText(const std::string &s) {
  std::string out;
  for (unsigned char c : s)
    out += (c < 32 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|' || c == ';')
               ? '_'
               : char(c);
  return out.empty() ? "_" : out;
}

}  // namespace

std::string RecordHeader() {
  std::string h;
  for (size_t i = 0; i < ColumnCount; ++i) h += (i ? ";" : "") + std::string(Columns[i]);
  return h;
}

std::string FormatRecordRow(const TRecordRow &r) {
  std::string reads;
  for (const TReading &z : r.ZReads)
    reads += (reads.empty() ? "" : " ") + std::to_string(z.first) + ":" + Num(z.second);
  const std::string f[] = {Text(r.Task),
                           std::to_string(r.Level),
                           Text(r.Process),
                           Text(r.Position),
                           std::to_string(r.Dip),
                           std::to_string(r.Dips),
                           r.Mode,
                           Num(r.X),
                           Num(r.Y),
                           Num(r.Top),
                           Num(r.Bottom),
                           Num(r.InSpeed),
                           Num(r.OutSpeed),
                           Num(r.InTime),
                           Num(r.OutTime),
                           Ms(r.DownAt),
                           Ms(r.BottomAt),
                           Ms(r.UpAt),
                           Ms(r.TopAt),
                           Ms(r.HeldBottom),
                           Ms(r.HeldTop),
                           Num(r.Withdrawal),
                           Text(r.Outputs),
                           reads,
                           Text(r.Seen),
                           std::to_string(r.ErrorBits),
                           Text(r.End)};
  std::string line;
  for (size_t i = 0; i < ColumnCount; ++i) line += (i ? ";" : "") + f[i];
  return line;
}

bool ParseRecordRow(const std::string &line, TRecordRow &row) {
  std::vector<std::string> f;
  if (!SplitFields(line, f) || f.size() != ColumnCount) return false;
  TRecordRow r;
  int bits = 0;
  r.Task = f[0], r.Process = f[2], r.Position = f[3], r.Mode = f[6], r.Outputs = f[22], r.Seen = f[24];
  r.End = f[26];
  bool ok = ReadInt(f[1], r.Level) && ReadInt(f[4], r.Dip) && ReadInt(f[5], r.Dips) && ReadNum(f[7], r.X) &&
            ReadNum(f[8], r.Y) && ReadNum(f[9], r.Top) && ReadNum(f[10], r.Bottom) &&
            ReadNum(f[11], r.InSpeed) && ReadNum(f[12], r.OutSpeed) && ReadNum(f[13], r.InTime) &&
            ReadNum(f[14], r.OutTime) && ReadMs(f[15], r.DownAt) && ReadMs(f[16], r.BottomAt) &&
            ReadMs(f[17], r.UpAt) && ReadMs(f[18], r.TopAt) && ReadMs(f[19], r.HeldBottom) &&
            ReadMs(f[20], r.HeldTop) && ReadNum(f[21], r.Withdrawal) && ReadInt(f[25], bits) && bits >= 0 &&
            bits <= 0xFFFF;
  r.ErrorBits = static_cast<uint16_t>(bits);
  for (size_t p = 0; ok && p < f[23].size();) {
    size_t e = f[23].find(' ', p);
    if (e == std::string::npos) e = f[23].size();
    const std::string w = f[23].substr(p, e - p);
    const size_t colon = w.find(':');
    int64_t t = 0;
    double z = 0;
    ok = colon != std::string::npos && ReadMs(w.substr(0, colon), t) && TryStrToFloat(w.substr(colon + 1), z);
    if (ok) r.ZReads.emplace_back(t, z);
    p = e + 1;
  }
  if (ok) row = std::move(r);
  return ok;
}

bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::string &error) {
  std::vector<std::string> lines;
  if (!ReadTextLines(path, lines, error)) return false;
  if (lines.empty() || lines[0] != RecordHeader()) {
    error = "it is not a run record (its first line is not the record's header)";
    return false;
  }
  std::vector<TRecordRow> read;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    TRecordRow r;
    if (ParseRecordRow(lines[i], r)) {
      read.push_back(std::move(r));
    } else if (i + 1 < lines.size()) {
      error = "line " + std::to_string(i + 1) + " is not a row of a run record";
      return false;
    }  // a last line cut short by a crash is left out
  }
  rows = std::move(read);
  return true;
}

std::string RunRecordPath(const std::string &task, std::time_t start) {
  std::tm tm{};
  localtime_r(&start, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%Y-%m-%d_%H-%M-%S", &tm);
  return "runs/" + std::string(b) + "_" + FileNameText(task) + ".csv";
}

double WithdrawalSpeed(const std::vector<TReading> &reads) {
  if (reads.size() < 3) return NAN;
  // Least-squares slope: one late read does not make the stroke look slow.
  double st = 0, sz = 0;
  for (const TReading &r : reads) st += r.first, sz += r.second;
  const double n = double(reads.size()), mt = st / n, mz = sz / n;
  double num = 0, den = 0;
  for (const TReading &r : reads)
    num += (r.first - mt) * (r.second - mz), den += (r.first - mt) * (r.first - mt);
  return den > 0 ? std::fabs(num / den) * 1000.0 : NAN;
}

bool TRunRecorder::Begin(const std::string &task, std::time_t start, uint32_t tick) {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
  Open = false;
  RowsSoFar.clear();
  Live.clear();
  Started = tick;
  TaskName = task;
  const std::string first = RunRecordPath(task, start);
  FilePath = first;
  ::mkdir("runs", 0755);
  // A second run within the same second gets its own file.
  for (int n = 2;; ++n) {
    Fd = ::open(FilePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (Fd >= 0 || errno != EEXIST || n > 99) break;
    FilePath = first.substr(0, first.size() - 4) + "_" + std::to_string(n) + ".csv";
  }
  if (Fd < 0) ReportUnwritable();
  else WriteLine(RecordHeader());
  Open = true;  // rows are kept for the window even without a file
  Changed();
  return Fd >= 0;
}

int64_t TRunRecorder::Since(uint32_t tick) const { return static_cast<uint32_t>(tick - Started); }
int64_t TRunRecorder::Now() const { return Since(GetTickCount()); }

void TRunRecorder::NoteZ(double cm) {
  if (!Open) return;
  Live.emplace_back(Now(), cm);
  Changed();
}

void TRunRecorder::Add(const TRecordRow &row) {
  if (!Open) return;
  RowsSoFar.push_back(row);
  Live.clear();
  if (Fd >= 0 && WriteLine(FormatRecordRow(row))) ::fdatasync(Fd);
  Changed();
}

void TRunRecorder::ReportUnwritable() const {
  ReportLine("*** Run record " + FilePath + " cannot be written: " + std::strerror(errno) +
             "; the task runs without it");
}

bool TRunRecorder::WriteLine(const std::string &text) {
  const std::string line = text + "\n";
  if (::write(Fd, line.data(), line.size()) == ssize_t(line.size())) return true;
  ReportUnwritable();
  ::close(Fd);
  Fd = -1;
  return false;
}

void TRunRecorder::Finish(const std::string &end, uint16_t error, const std::string &seen) {
  if (!Open) return;
  TRecordRow r;
  r.Task = TaskName;
  r.Mode = RecordEnd;
  r.TopAt = Now();
  r.Seen = seen;
  r.ErrorBits = error;
  r.End = end;
  Add(r);
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
  Open = false;
  Changed();
}

void TRunRecorder::Changed() const {
  if (Listener) Listener();
}

TRunRecorder &RunRecorder() {
  static TRunRecorder recorder;
  return recorder;
}
