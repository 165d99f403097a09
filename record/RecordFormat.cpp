#include "record/RecordFormat.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/TextFile.h"

const char *const RecordStepByStep = "step-by-step";
const char *const RecordFast = "fast";
const char *const RecordTravel = "travel";
const char *const RecordEnd = "end";
const char *const RecordEvent = "event";
const char *const EndDone = "done";
const char *const EndStopped = "stopped";
const char *const EndMoveFailed = "move failed";
const char *const EndLost = "controller lost";
const char *const EndError = "error";

namespace {

// The columns of the present format; the first names the version.
const char *const Columns[] = {"Written ms (record 3)",
                               "Task",
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
                               "Down speed driven cm/s",
                               "Up speed driven cm/s",
                               "Bottom wait s",
                               "Top wait s",
                               "Down commanded ms",
                               "Bottom reached ms",
                               "Up commanded ms",
                               "Top reached ms",
                               "Held bottom ms",
                               "Held top ms",
                               "Bottom cm",
                               "Top cm",
                               "Withdrawal cm/s",
                               "Outputs",
                               "Seen",
                               "Event",
                               "Error bits",
                               "End"};
constexpr size_t ColumnCount = sizeof Columns / sizeof Columns[0];
const char *const VersionPrefix = "Written ms (record ";
// The first format: ";" separated, Z reads in a cell, no version.
const char *const FirstHeader =
    "Task;Level;Process;Position;Dip;Dips;Mode;X cm;Y cm;Z top cm;Z bottom cm;Down speed cm/s;Up speed cm/s;"
    "Bottom wait s;Top wait s;Down commanded ms;Bottom reached ms;Up commanded ms;Top reached ms;Held bottom "
    "ms;"
    "Held top ms;Withdrawal cm/s;Outputs;Z reads ms:cm;Seen;Error bits;End";

std::string Ms(int64_t v) { return v < 0 ? "" : std::to_string(v); }

// Text fields are quoted when they hold a separator, a quote or a line end.
std::string Text(const std::string &s) {
  if (s.find_first_of(",;\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += (c == '\r' || c == '\n') ? ' ' : c;
  }
  return q + "\"";
}

bool SplitFields(const std::string &line, char sep, std::vector<std::string> &fields) {
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
    } else if (c == sep) {
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

bool ReadReads(const std::string &f, std::vector<TReading> &reads) {
  for (size_t p = 0; p < f.size();) {
    size_t e = f.find(' ', p);
    if (e == std::string::npos) e = f.size();
    const std::string w = f.substr(p, e - p);
    const size_t colon = w.find(':');
    int64_t t = 0;
    double z = 0;
    if (colon == std::string::npos || !ReadMs(w.substr(0, colon), t) ||
        !TryStrToFloat(w.substr(colon + 1), z))
      return false;
    reads.emplace_back(t, z);
    p = e + 1;
  }
  return true;
}

// Sets the field of `row` that column `name` holds; unknown columns are left.
bool SetField(TRecordRow &r, const std::string &name, const std::string &f) {
  int bits = 0;
  if (name.rfind(VersionPrefix, 0) == 0) return ReadMs(f, r.WrittenAt);
  if (name == "Task") return r.Task = f, true;
  if (name == "Level") return ReadInt(f, r.Level);
  if (name == "Process") return r.Process = f, true;
  if (name == "Position") return r.Position = f, true;
  if (name == "Dip") return ReadInt(f, r.Dip);
  if (name == "Dips") return ReadInt(f, r.Dips);
  if (name == "Mode") return r.Mode = f, true;
  if (name == "X cm") return ReadNum(f, r.X);
  if (name == "Y cm") return ReadNum(f, r.Y);
  if (name == "Z top cm") return ReadNum(f, r.Top);
  if (name == "Z bottom cm") return ReadNum(f, r.Bottom);
  if (name == "Down speed cm/s") return ReadNum(f, r.InSpeed);
  if (name == "Up speed cm/s") return ReadNum(f, r.OutSpeed);
  if (name == "Down speed driven cm/s") return ReadNum(f, r.InDriven);
  if (name == "Up speed driven cm/s") return ReadNum(f, r.OutDriven);
  if (name == "Bottom wait s") return ReadNum(f, r.InTime);
  if (name == "Top wait s") return ReadNum(f, r.OutTime);
  if (name == "Down commanded ms") return ReadMs(f, r.DownAt);
  if (name == "Bottom reached ms") return ReadMs(f, r.BottomAt);
  if (name == "Up commanded ms") return ReadMs(f, r.UpAt);
  if (name == "Top reached ms") return ReadMs(f, r.TopAt);
  if (name == "Held bottom ms") return ReadMs(f, r.HeldBottom);
  if (name == "Held top ms") return ReadMs(f, r.HeldTop);
  if (name == "Withdrawal cm/s") return ReadNum(f, r.Withdrawal);
  if (name == "Bottom cm") return ReadNum(f, r.BottomRead);
  if (name == "Top cm") return ReadNum(f, r.TopRead);
  if (name == "Outputs") return r.Outputs = f, true;
  if (name == "Z reads ms:cm") return ReadReads(f, r.ZReads);
  if (name == "Seen") return r.Seen = f, true;
  if (name == "Event") return r.Event = f, true;
  if (name == "Error bits") {
    if (!ReadInt(f, bits) || bits < 0 || bits > 0xFFFF) return false;
    r.ErrorBits = static_cast<uint16_t>(bits);
    return true;
  }
  if (name == "End") return r.End = f, true;
  return true;
}

bool ParseWith(const std::vector<std::string> &names, char sep, const std::string &line, TRecordRow &row) {
  std::vector<std::string> f;
  if (!SplitFields(line, sep, f) || f.size() != names.size()) return false;
  TRecordRow r;
  for (size_t i = 0; i < f.size(); ++i)
    if (!SetField(r, names[i], f[i])) return false;
  row = std::move(r);
  return true;
}

std::string FileNameText(const std::string &s) {
  std::string out;
  for (unsigned char c : s)
    out += (c < 32 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|' || c == ';' || c == ',')
               ? '_'
               : char(c);
  return out.empty() ? "_" : out;
}

// The whole file; `cut` tells that its last line has no end (a crash).
bool ReadWhole(const std::string &path, std::vector<std::string> &lines, bool &cut, std::string &error) {
  std::string text;
  if (!ReadWholeFile(path, text, error)) return false;
  cut = !text.empty() && text.back() != '\n';
  lines.clear();
  for (size_t p = 0; p < text.size();) {
    size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    std::string l = text.substr(p, e - p);
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(std::move(l));
    p = e + 1;
  }
  return true;
}

// The reads file's reads of Z, in file order; none when it is missing.
std::vector<TReading> ReadZReads(const std::string &path) {
  std::vector<std::string> lines;
  bool cut = false;
  std::string error;
  std::vector<TReading> z;
  if (!ReadWhole(path, lines, cut, error)) return z;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f;
    int64_t t = 0;
    int axis = 0;
    double cm = 0;
    if (cut && i + 1 == lines.size()) break;
    if (SplitFields(lines[i], ',', f) && f.size() >= 3 && ReadMs(f[0], t) && ReadInt(f[1], axis) &&
        TryStrToFloat(f[2], cm) && axis == 3)
      z.emplace_back(t, cm);
  }
  return z;
}

}  // namespace

std::string RecordNumber(double v) {
  if (!std::isfinite(v)) return "";
  if (v == 0) return "0";
  // Six significant digits as an integer mantissa and a power of ten: no
  // decimal separator for a locale to misread.
  char b[32];
  std::snprintf(b, sizeof b, "%.5e", std::fabs(v));
  std::string digits = std::string(1, b[0]) + std::string(b + 2, b + 7);
  int exp = std::atoi(b + 8) - 5;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back(), ++exp;
  std::string s = v < 0 ? "-" + digits : digits;
  if (exp >= 0 && exp <= 6) return s + std::string(size_t(exp), '0');
  return s + "E" + std::to_string(exp);
}

std::string RecordHeader() {
  std::string h;
  for (size_t i = 0; i < ColumnCount; ++i) h += (i ? "," : "") + std::string(Columns[i]);
  return h;
}

std::string FormatRecordRow(const TRecordRow &r) {
  const std::string f[] = {Ms(r.WrittenAt),
                           Text(r.Task),
                           std::to_string(r.Level),
                           Text(r.Process),
                           Text(r.Position),
                           std::to_string(r.Dip),
                           std::to_string(r.Dips),
                           r.Mode,
                           RecordNumber(r.X),
                           RecordNumber(r.Y),
                           RecordNumber(r.Top),
                           RecordNumber(r.Bottom),
                           RecordNumber(r.InSpeed),
                           RecordNumber(r.OutSpeed),
                           RecordNumber(r.InDriven),
                           RecordNumber(r.OutDriven),
                           RecordNumber(r.InTime),
                           RecordNumber(r.OutTime),
                           Ms(r.DownAt),
                           Ms(r.BottomAt),
                           Ms(r.UpAt),
                           Ms(r.TopAt),
                           Ms(r.HeldBottom),
                           Ms(r.HeldTop),
                           RecordNumber(r.BottomRead),
                           RecordNumber(r.TopRead),
                           RecordNumber(r.Withdrawal),
                           Text(r.Outputs),
                           Text(r.Seen),
                           Text(r.Event),
                           std::to_string(r.ErrorBits),
                           Text(r.End)};
  std::string line;
  for (size_t i = 0; i < ColumnCount; ++i) line += (i ? "," : "") + f[i];
  return line;
}

bool ParseRecordRow(const std::string &line, TRecordRow &row) {
  static const std::vector<std::string> names(std::begin(Columns), std::end(Columns));
  static const std::vector<std::string> first = [] {
    std::vector<std::string> f;
    SplitFields(FirstHeader, ';', f);
    return f;
  }();
  return ParseWith(names, ',', line, row) || ParseWith(first, ';', line, row);
}

bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::vector<TRecordRow> &events,
                   std::string &error) {
  std::vector<std::string> lines;
  bool cut = false;
  if (!ReadWhole(path, lines, cut, error)) return false;
  char sep = ',';
  std::vector<std::string> names;
  if (!lines.empty() && lines[0] == FirstHeader) sep = ';';
  else if (lines.empty() || lines[0].rfind(VersionPrefix, 0) != 0) {
    error = "it is not a run record (its first line is not the record's header)";
    return false;
  }
  SplitFields(lines[0], sep, names);
  std::vector<TRecordRow> read, happened;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    TRecordRow r;
    if (ParseWith(names, sep, lines[i], r)) {
      (r.Mode == RecordEvent ? happened : read).push_back(std::move(r));
    } else if (i + 1 < lines.size() || (!cut && sep == ',')) {
      error = "line " + std::to_string(i + 1) + " is not a row of a run record";
      return false;
    }  // a last line cut short by a crash is left out
  }
  if (sep == ',') {
    // Each read belongs to the first row written after it.
    size_t k = 0;
    for (const TReading &z : ReadZReads(RunReadsPath(path))) {
      while (k < read.size() && read[k].WrittenAt < z.first) ++k;
      if (k == read.size()) break;
      read[k].ZReads.push_back(z);
    }
  }
  rows = std::move(read);
  events = std::move(happened);
  return true;
}

bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::string &error) {
  std::vector<TRecordRow> events;
  return ReadRunRecord(path, rows, events, error);
}

std::string RunReadsPath(const std::string &recordPath) {
  const std::string ext = ".csv";
  const bool csv = recordPath.size() >= ext.size() &&
                   recordPath.compare(recordPath.size() - ext.size(), ext.size(), ext) == 0;
  return (csv ? recordPath.substr(0, recordPath.size() - ext.size()) : recordPath) + ".reads.csv";
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
