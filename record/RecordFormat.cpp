#include "record/RecordFormat.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <string_view>
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

// Splits a line at `sep` ("" quotes a field) into `fields`, whose strings
// keep their room from line to line: a record of a night reads without a
// string allocated per field.
bool SplitFields(std::string_view line, char sep, std::vector<std::string> &fields) {
  size_t n = 0;
  auto next = [&]() -> std::string & {
    if (n == fields.size()) fields.emplace_back();
    std::string &f = fields[n++];
    f.clear();
    return f;
  };
  std::string *f = &next();
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') *f += c;
      else if (i + 1 < line.size() && line[i + 1] == '"') *f += '"', ++i;
      else quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == sep) {
      f = &next();
    } else {
      // The plain run up to the next separator or quote at once.
      size_t e = i;
      while (e < line.size() && line[e] != sep && line[e] != '"') ++e;
      f->append(line.data() + i, e - i);
      i = e - 1;
    }
  }
  fields.resize(n);
  return !quoted;
}

// Numbers as the general rules read them; the plain case without a copy.
bool Float(std::string_view f, double &v) {
  const char *e = f.data() + f.size();
  double d = 0;
  if (!f.empty() && f[0] != '+') {
    const auto r = std::from_chars(f.data(), e, d, std::chars_format::general);
    if (r.ec == std::errc() && r.ptr == e) return v = d, true;
  }
  return TryStrToFloat(std::string(f), v);  // blanks, a plus sign, out of range
}
bool Int(std::string_view f, int &v) {
  const char *e = f.data() + f.size();
  int i = 0;
  if (f.size() < 2 || f[1] != 'x') {
    const auto r = std::from_chars(f.data(), e, i);
    if (!f.empty() && r.ec == std::errc() && r.ptr == e) return v = i, true;
  }
  return TryStrToInt(std::string(f), v);  // hexadecimal, blanks, a plus sign
}

bool ReadNum(std::string_view f, double &v) {
  if (f.empty()) return v = NAN, true;
  return Float(f, v);
}
bool ReadMs(std::string_view f, int64_t &v) {
  if (f.empty()) return v = -1, true;
  double d = 0;
  if (!Float(f, d) || d < 0) return false;
  v = static_cast<int64_t>(d);
  return true;
}
bool ReadInt(std::string_view f, int &v) { return f.empty() ? (v = 0, true) : Int(f, v); }

bool ReadReads(std::string_view f, std::vector<TReading> &reads) {
  for (size_t p = 0; p < f.size();) {
    size_t e = f.find(' ', p);
    if (e == std::string_view::npos) e = f.size();
    const std::string_view w = f.substr(p, e - p);
    const size_t colon = w.find(':');
    int64_t t = 0;
    double z = 0;
    if (colon == std::string_view::npos || !ReadMs(w.substr(0, colon), t) || !Float(w.substr(colon + 1), z))
      return false;
    reads.emplace_back(t, z);
    p = e + 1;
  }
  return true;
}

// What each column sets; a column a record names is looked up once per file.
using TSetter = bool (*)(TRecordRow &, std::string_view);
struct TField {
  const char *Name;
  TSetter Set;
};
#define KV_TEXT(member) [](TRecordRow &r, std::string_view f) { return r.member = f, true; }
#define KV_NUM(member) [](TRecordRow &r, std::string_view f) { return ReadNum(f, r.member); }
#define KV_MS(member) [](TRecordRow &r, std::string_view f) { return ReadMs(f, r.member); }
#define KV_INT(member) [](TRecordRow &r, std::string_view f) { return ReadInt(f, r.member); }
const TField Fields[] = {
    {"Task", KV_TEXT(Task)},
    {"Level", KV_INT(Level)},
    {"Process", KV_TEXT(Process)},
    {"Position", KV_TEXT(Position)},
    {"Dip", KV_INT(Dip)},
    {"Dips", KV_INT(Dips)},
    {"Mode", KV_TEXT(Mode)},
    {"X cm", KV_NUM(X)},
    {"Y cm", KV_NUM(Y)},
    {"Z top cm", KV_NUM(Top)},
    {"Z bottom cm", KV_NUM(Bottom)},
    {"Down speed cm/s", KV_NUM(InSpeed)},
    {"Up speed cm/s", KV_NUM(OutSpeed)},
    {"Down speed driven cm/s", KV_NUM(InDriven)},
    {"Up speed driven cm/s", KV_NUM(OutDriven)},
    {"Bottom wait s", KV_NUM(InTime)},
    {"Top wait s", KV_NUM(OutTime)},
    {"Down commanded ms", KV_MS(DownAt)},
    {"Bottom reached ms", KV_MS(BottomAt)},
    {"Up commanded ms", KV_MS(UpAt)},
    {"Top reached ms", KV_MS(TopAt)},
    {"Held bottom ms", KV_MS(HeldBottom)},
    {"Held top ms", KV_MS(HeldTop)},
    {"Withdrawal cm/s", KV_NUM(Withdrawal)},
    {"Bottom cm", KV_NUM(BottomRead)},
    {"Top cm", KV_NUM(TopRead)},
    {"Outputs", KV_TEXT(Outputs)},
    {"Z reads ms:cm", [](TRecordRow &r, std::string_view f) { return ReadReads(f, r.ZReads); }},
    {"Seen", KV_TEXT(Seen)},
    {"Event", KV_TEXT(Event)},
    {"Error bits",
     [](TRecordRow &r, std::string_view f) {
       int bits = 0;
       if (!ReadInt(f, bits) || bits < 0 || bits > 0xFFFF) return false;
       r.ErrorBits = static_cast<uint16_t>(bits);
       return true;
     }},
    {"End", KV_TEXT(End)},
};
#undef KV_TEXT
#undef KV_NUM
#undef KV_MS
#undef KV_INT

// The setter of column `name`; columns it does not know are left aside.
TSetter SetterOf(const std::string &name) {
  if (name.rfind(VersionPrefix, 0) == 0) return [](TRecordRow &r, std::string_view f) { return ReadMs(f, r.WrittenAt); };
  for (const TField &f : Fields)
    if (name == f.Name) return f.Set;
  return [](TRecordRow &, std::string_view) { return true; };
}

// A header's columns, ready to parse rows with.
struct TLayout {
  char Sep = ',';
  std::vector<TSetter> Set;
  std::vector<std::string> Scratch;  // the fields of the line at hand
  TLayout(std::string_view header, char sep) : Sep(sep) {
    std::vector<std::string> names;
    SplitFields(header, sep, names);
    for (const std::string &n : names) Set.push_back(SetterOf(n));
  }
  bool Parse(std::string_view line, TRecordRow &row) {
    if (!SplitFields(line, Sep, Scratch) || Scratch.size() != Set.size()) return false;
    TRecordRow r;
    for (size_t i = 0; i < Scratch.size(); ++i)
      if (!Set[i](r, Scratch[i])) return false;
    row = std::move(r);
    return true;
  }
};

std::string FileNameText(const std::string &s) {
  std::string out;
  for (unsigned char c : s)
    out += (c < 32 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|' || c == ';' || c == ',')
               ? '_'
               : char(c);
  return out.empty() ? "_" : out;
}

// The whole file as lines (views into `text`); `cut` tells that its last
// line has no end (a crash).
bool ReadWhole(const std::string &path, std::string &text, std::vector<std::string_view> &lines, bool &cut,
               std::string &error) {
  if (!ReadWholeFile(path, text, error)) return false;
  cut = !text.empty() && text.back() != '\n';
  lines.clear();
  lines.reserve(size_t(std::count(text.begin(), text.end(), '\n')) + 1);
  for (size_t p = 0; p < text.size();) {
    size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    std::string_view l(text.data() + p, e - p);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    lines.push_back(l);
    p = e + 1;
  }
  return true;
}

// The reads file's reads of Z, in file order; none when it is missing.
std::vector<TReading> ReadZReads(const std::string &path) {
  std::string text, error;
  std::vector<std::string_view> lines;
  bool cut = false;
  std::vector<TReading> z;
  if (!ReadWhole(path, text, lines, cut, error)) return z;
  z.reserve(lines.size());
  for (size_t i = 1; i < lines.size(); ++i) {
    if (cut && i + 1 == lines.size()) break;
    // "ms,axis,cm" and perhaps more columns.
    const std::string_view l = lines[i];
    const size_t c1 = l.find(','), c2 = c1 == l.npos ? l.npos : l.find(',', c1 + 1);
    if (c2 == l.npos) continue;
    const size_t c3 = std::min(l.find(',', c2 + 1), l.size());
    int64_t t = 0;
    int axis = 0;
    double cm = 0;
    if (ReadMs(l.substr(0, c1), t) && ReadInt(l.substr(c1 + 1, c2 - c1 - 1), axis) &&
        Float(l.substr(c2 + 1, c3 - c2 - 1), cm) && axis == 3)
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
  static thread_local TLayout present(RecordHeader(), ','), first(FirstHeader, ';');
  return present.Parse(line, row) || first.Parse(line, row);
}

bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::vector<TRecordRow> &events,
                   std::string &error) {
  std::string text;
  std::vector<std::string_view> lines;
  bool cut = false;
  if (!ReadWhole(path, text, lines, cut, error)) return false;
  char sep = ',';
  if (!lines.empty() && lines[0] == FirstHeader) sep = ';';
  else if (lines.empty() || lines[0].rfind(VersionPrefix, 0) != 0) {
    error = "it is not a run record (its first line is not the record's header)";
    return false;
  }
  TLayout layout(lines[0], sep);
  std::vector<TRecordRow> read, happened;
  read.reserve(lines.size() / 4);  // a dip's row comes with a few events
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    TRecordRow r;
    if (layout.Parse(lines[i], r)) {
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
