#include "record/RecordFormat.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "base/Convert.h"
#include "base/Host.h"

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

// A line's fields, split at `sep` outside quotes: views into the line, or
// into `store` for a field that held quotes. False when a quote is left open.
bool SplitFields(std::string_view line, char sep, std::vector<std::string_view> &fields,
                 std::vector<std::string> &store) {
  fields.clear();
  if (line.find('"') == std::string_view::npos) {
    for (size_t p = 0;;) {
      const size_t e = line.find(sep, p);
      fields.push_back(line.substr(p, e == std::string_view::npos ? std::string_view::npos : e - p));
      if (e == std::string_view::npos) return true;
      p = e + 1;
    }
  }
  // Rare (a name with a separator or quote): unquoted copies, never moved
  // while views point at them.
  store.clear();
  store.reserve(line.size() + 1);
  store.emplace_back();
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') store.back() += c;
      else if (i + 1 < line.size() && line[i + 1] == '"') store.back() += '"', ++i;
      else quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == sep) {
      store.emplace_back();
    } else {
      store.back() += c;
    }
  }
  for (const std::string &f : store) fields.push_back(f);
  return !quoted;
}

bool ReadNum(std::string_view f, double &v) {
  if (f.empty()) return v = NAN, true;
  return TryStrToFloat(f, v);
}
bool ReadMs(std::string_view f, int64_t &v) {
  if (f.empty()) return v = -1, true;
  double d = 0;
  // Not a number, or one no count of ms holds, is no time of the run.
  if (!TryStrToFloat(f, d) || !(d >= 0 && d < 9e18)) return false;
  v = static_cast<int64_t>(d);
  return true;
}
bool ReadInt(std::string_view f, int &v) { return f.empty() ? (v = 0, true) : TryStrToInt(f, v); }

bool ReadReads(std::string_view f, std::vector<TReading> &reads) {
  for (size_t p = 0; p < f.size();) {
    size_t e = f.find(' ', p);
    if (e == std::string_view::npos) e = f.size();
    const std::string_view w = f.substr(p, e - p);
    const size_t colon = w.find(':');
    int64_t t = 0;
    double z = 0;
    if (colon == std::string_view::npos || !ReadMs(w.substr(0, colon), t) || !TryStrToFloat(w.substr(colon + 1), z))
      return false;
    reads.emplace_back(t, z);
    p = e + 1;
  }
  return true;
}

// What a column of a header holds: looked up once per file, not per field.
enum class TColumn : uint8_t {
  Unknown, Written, Task, Level, Process, Position, Dip, Dips, Mode, X, Y, Top, Bottom, InSpeed, OutSpeed,
  InDriven, OutDriven, InTime, OutTime, DownAt, BottomAt, UpAt, TopAt, HeldBottom, HeldTop, Withdrawal,
  BottomRead, TopRead, Outputs, ZReads, Seen, Event, ErrorBits, End
};

TColumn ColumnOf(std::string_view name) {
  static const std::pair<const char *, TColumn> known[] = {
      {"Task", TColumn::Task}, {"Level", TColumn::Level}, {"Process", TColumn::Process},
      {"Position", TColumn::Position}, {"Dip", TColumn::Dip}, {"Dips", TColumn::Dips}, {"Mode", TColumn::Mode},
      {"X cm", TColumn::X}, {"Y cm", TColumn::Y}, {"Z top cm", TColumn::Top}, {"Z bottom cm", TColumn::Bottom},
      {"Down speed cm/s", TColumn::InSpeed}, {"Up speed cm/s", TColumn::OutSpeed},
      {"Down speed driven cm/s", TColumn::InDriven}, {"Up speed driven cm/s", TColumn::OutDriven},
      {"Bottom wait s", TColumn::InTime}, {"Top wait s", TColumn::OutTime},
      {"Down commanded ms", TColumn::DownAt}, {"Bottom reached ms", TColumn::BottomAt},
      {"Up commanded ms", TColumn::UpAt}, {"Top reached ms", TColumn::TopAt},
      {"Held bottom ms", TColumn::HeldBottom}, {"Held top ms", TColumn::HeldTop},
      {"Withdrawal cm/s", TColumn::Withdrawal}, {"Bottom cm", TColumn::BottomRead},
      {"Top cm", TColumn::TopRead}, {"Outputs", TColumn::Outputs}, {"Z reads ms:cm", TColumn::ZReads},
      {"Seen", TColumn::Seen}, {"Event", TColumn::Event}, {"Error bits", TColumn::ErrorBits},
      {"End", TColumn::End}};
  if (name.substr(0, std::strlen(VersionPrefix)) == VersionPrefix) return TColumn::Written;
  for (const auto &k : known)
    if (name == k.first) return k.second;
  return TColumn::Unknown;
}

// Sets the field of `r` that column `c` holds; unknown columns are left.
bool SetField(TRecordRow &r, TColumn c, std::string_view f) {
  int bits = 0;
  switch (c) {
  case TColumn::Unknown: return true;
  case TColumn::Written: return ReadMs(f, r.WrittenAt);
  case TColumn::Task: return r.Task = f, true;
  case TColumn::Level: return ReadInt(f, r.Level);
  case TColumn::Process: return r.Process = f, true;
  case TColumn::Position: return r.Position = f, true;
  case TColumn::Dip: return ReadInt(f, r.Dip);
  case TColumn::Dips: return ReadInt(f, r.Dips);
  case TColumn::Mode: return r.Mode = f, true;
  case TColumn::X: return ReadNum(f, r.X);
  case TColumn::Y: return ReadNum(f, r.Y);
  case TColumn::Top: return ReadNum(f, r.Top);
  case TColumn::Bottom: return ReadNum(f, r.Bottom);
  case TColumn::InSpeed: return ReadNum(f, r.InSpeed);
  case TColumn::OutSpeed: return ReadNum(f, r.OutSpeed);
  case TColumn::InDriven: return ReadNum(f, r.InDriven);
  case TColumn::OutDriven: return ReadNum(f, r.OutDriven);
  case TColumn::InTime: return ReadNum(f, r.InTime);
  case TColumn::OutTime: return ReadNum(f, r.OutTime);
  case TColumn::DownAt: return ReadMs(f, r.DownAt);
  case TColumn::BottomAt: return ReadMs(f, r.BottomAt);
  case TColumn::UpAt: return ReadMs(f, r.UpAt);
  case TColumn::TopAt: return ReadMs(f, r.TopAt);
  case TColumn::HeldBottom: return ReadMs(f, r.HeldBottom);
  case TColumn::HeldTop: return ReadMs(f, r.HeldTop);
  case TColumn::Withdrawal: return ReadNum(f, r.Withdrawal);
  case TColumn::BottomRead: return ReadNum(f, r.BottomRead);
  case TColumn::TopRead: return ReadNum(f, r.TopRead);
  case TColumn::Outputs: return r.Outputs = f, true;
  case TColumn::ZReads: return ReadReads(f, r.ZReads);
  case TColumn::Seen: return r.Seen = f, true;
  case TColumn::Event: return r.Event = f, true;
  case TColumn::ErrorBits:
    if (!ReadInt(f, bits) || bits < 0 || bits > 0xFFFF) return false;
    r.ErrorBits = static_cast<uint16_t>(bits);
    return true;
  case TColumn::End: return r.End = f, true;
  }
  return true;
}

// A header's columns and separator, and the scratch space of its lines.
struct TLayout {
  char Sep = ',';
  std::vector<TColumn> Columns;
  std::vector<std::string_view> Fields;
  std::vector<std::string> Store;
  TLayout(std::string_view header, char sep) : Sep(sep) {
    std::vector<std::string_view> names;
    SplitFields(header, sep, names, Store);
    for (std::string_view n : names) Columns.push_back(ColumnOf(n));
  }
  bool Parse(std::string_view line, TRecordRow &row) {
    if (!SplitFields(line, Sep, Fields, Store) || Fields.size() != Columns.size()) return false;
    TRecordRow r;
    for (size_t i = 0; i < Fields.size(); ++i)
      if (!SetField(r, Columns[i], Fields[i])) return false;
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

// A file's lines, read in blocks: a long record is never held whole.
class TLines {
public:
  explicit TLines(const std::string &path) : Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), Buf(1 << 20, '\0') {
    if (Fd < 0) Error = errno;
  }
  ~TLines() {
    if (Fd >= 0) ::close(Fd);
  }
  TLines(const TLines &) = delete;
  TLines &operator=(const TLines &) = delete;
  // errno of a failed open or read; 0 when none failed.
  int Failed() const { return Error; }
  // The next line without its end ("\n" or "\r\n"); false after the last.
  bool Next(std::string_view &line) {
    size_t scan = Pos;
    for (;;) {
      const void *nl = std::memchr(Buf.data() + scan, '\n', End - scan);
      if (nl || Eof) {
        const size_t from = Pos, to = nl ? size_t(static_cast<const char *>(nl) - Buf.data()) : End;
        if (!nl && from == to) return false;
        Cut = !nl;
        Pos = nl ? to + 1 : to;
        size_t start = from, stop = to;
        // Whether a line follows decides what a bad line means: learn it now.
        if (Pos == End && !Eof) {
          Fill(start);
          stop -= start, start = 0;
        }
        line = std::string_view(Buf.data() + start, stop - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
      }
      const size_t seen = End - Pos;
      Fill(Pos);
      scan = Pos + seen;
    }
  }
  // The line Next gave is the file's last; Cut: it had no end (a crash).
  bool Last() const { return Eof && Pos == End; }
  bool CutShort() const { return Cut; }

private:
  // Keeps the bytes from `keep` on (moved to the front) and reads more.
  void Fill(size_t keep) {
    std::memmove(&Buf[0], Buf.data() + keep, End - keep);
    End -= keep, Pos -= keep;
    if (End == Buf.size()) Buf.resize(Buf.size() * 2);  // a line longer than a block
    for (;;) {
      const ssize_t n = Fd < 0 ? 0 : ::read(Fd, &Buf[End], Buf.size() - End);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Error = errno;
      if (n <= 0) Eof = true;
      else End += size_t(n);
      return;
    }
  }
  int Fd;
  int Error = 0;
  std::string Buf;
  size_t Pos = 0, End = 0;
  bool Eof = false, Cut = false;
};

// Hands the reads file's reads of Z to the rows: each read belongs to the
// first row written after it. A missing file gives none; a last line cut
// short by a crash is left out.
void AddZReads(const std::string &path, std::vector<TRecordRow> &rows) {
  TLines lines(path);
  std::string_view line;
  std::vector<std::string_view> f;
  std::vector<std::string> store;
  std::vector<TReading> dip;  // the reads of row k, stored at its exact size
  size_t k = 0;
  auto give = [&] {
    if (k < rows.size() && !dip.empty()) rows[k].ZReads.insert(rows[k].ZReads.end(), dip.begin(), dip.end());
    dip.clear();
  };
  for (bool header = true; k < rows.size() && lines.Next(line); header = false) {
    int64_t t = 0;
    int axis = 0;
    double cm = 0;
    if (header || (lines.Last() && lines.CutShort())) continue;
    if (SplitFields(line, ',', f, store) && f.size() >= 3 && ReadMs(f[0], t) && ReadInt(f[1], axis) &&
        TryStrToFloat(f[2], cm) && axis == 3) {
      while (k < rows.size() && rows[k].WrittenAt < t) give(), ++k;
      if (k == rows.size()) break;
      dip.emplace_back(t, cm);
    }
  }
  give();
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
  static const std::string header = RecordHeader();
  thread_local TLayout present(header, ','), first(FirstHeader, ';');
  return present.Parse(line, row) || first.Parse(line, row);
}

namespace {

bool ReadRecord(const std::string &path, std::vector<TRecordRow> &rows, std::vector<TRecordRow> *events,
                std::string &error) {
  TLines lines(path);
  std::string_view line;
  if (!lines.Next(line) && !lines.Failed()) {
    error = "it is not a run record (its first line is not the record's header)";
    return false;
  }
  if (lines.Failed()) {
    error = std::strerror(lines.Failed());
    return false;
  }
  const char sep = line == FirstHeader ? ';' : ',';
  if (sep == ',' && line.substr(0, std::strlen(VersionPrefix)) != VersionPrefix) {
    error = "it is not a run record (its first line is not the record's header)";
    return false;
  }
  TLayout layout(line, sep);
  std::vector<TRecordRow> read, happened;
  for (size_t number = 2; lines.Next(line); ++number) {
    if (line.empty()) continue;
    TRecordRow r;
    if (layout.Parse(line, r)) {
      if (r.Mode != RecordEvent) read.push_back(std::move(r));
      else if (events) happened.push_back(std::move(r));
    } else if (!lines.Last() || (!lines.CutShort() && sep == ',')) {
      error = "line " + std::to_string(number) + " is not a row of a run record";
      return false;
    }  // a last line cut short by a crash is left out
  }
  if (lines.Failed()) {
    error = std::strerror(lines.Failed());
    return false;
  }
  if (sep == ',') AddZReads(RunReadsPath(path), read);
  rows = std::move(read);
  if (events) *events = std::move(happened);
  return true;
}

}  // namespace

bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::vector<TRecordRow> &events,
                   std::string &error) {
  return ReadRecord(path, rows, &events, error);
}

bool ReadRunRecord(const std::string &path, std::vector<TRecordRow> &rows, std::string &error) {
  // The events are not kept: a night's record has four for every dip.
  return ReadRecord(path, rows, nullptr, error);
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
