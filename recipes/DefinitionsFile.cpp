#include "recipes/DefinitionsFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <system_error>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/TextFile.h"
#include "recipes/Editors.h"

const char *const LastDefinitionsFile = "LastDefinitions.dip";

namespace {

bool IsBlank(char c) { return c != 0 && static_cast<unsigned char>(c) <= ' '; }

const char *const PosHeader = "# Position: No; Name; Xpos [cm]; Ypos [cm]";
const char *const ProcHeader[3] = {"# Process: No; Name; PosNr; ... ",
                                   "# Z Top; V Down; T low; Z Bot; V up; T up; ...  ",
                                   "# Chan Mode; Chan Num "};
const char *const TaskHeader = "# Task: No; Name; CommandLine ";

std::string Join(const std::vector<std::string> &fields) {
  std::string s;
  for (size_t i = 0; i < fields.size(); ++i) s += (i ? "; " : "") + fields[i];
  return s;
}

// Fields of one record, with what a malformed one needs for its message.
class TRecordReader {
public:
  TRecordReader(const std::vector<std::string> &fields, int lineNo) : Fields(fields), LineNo(lineNo) {}
  bool Need(size_t count, std::string &error) const {
    if (Fields.size() >= count) return true;
    error = "line " + std::to_string(LineNo) + ": \"" + Fields[0] + "\" record has " +
            std::to_string(Fields.size()) + " fields, needs at least " + std::to_string(count);
    return false;
  }
  bool Float(size_t field, double &v, std::string &error) const {
    if (TryStrToFloat(Fields[field - 1], v) && std::isfinite(v)) return true;
    return Bad(field, "a valid number", error);
  }
  bool Int(size_t field, int32_t &v, std::string &error) const {
    int i = 0;
    if (!TryStrToInt(Fields[field - 1], i)) return Bad(field, "a valid integer", error);
    v = i;
    return true;
  }
  std::string Name() const { return CutText(Fields[2], NameLength); }

private:
  bool Bad(size_t field, const char *what, std::string &error) const {
    error = "line " + std::to_string(LineNo) + ", field " + std::to_string(field) + ": \"" +
            Fields[field - 1] + "\" is not " + what;
    return false;
  }
  const std::vector<std::string> &Fields;
  int LineNo;
};

bool ReadPos(const TRecordReader &r, TDefRecord &rec, std::string &error) {
  rec.Kind = TDefRecord::Pos;
  TPosEntry &e = rec.PosEntry;
  if (!r.Need(5, error)) return false;
  e.Name = r.Name();
  return r.Float(4, e.X, error) && r.Float(5, e.Y, error);
}

bool ReadProc(const TRecordReader &r, size_t count, TDefRecord &rec, std::string &error) {
  rec.Kind = TDefRecord::Proc;
  TProcEntry &e = rec.ProcEntry;
  if (!r.Need(12, error)) return false;
  e.Name = r.Name();
  int32_t posNo = 0;
  if (!r.Int(4, posNo, error)) return false;
  e.PosNo = static_cast<uint8_t>(static_cast<uint32_t>(posNo) & 0xFF);
  if (!(r.Float(5, e.UpperPos, error) && r.Float(6, e.InSpeed, error) && r.Float(7, e.InTime, error) &&
        r.Float(8, e.LowPos, error) && r.Float(9, e.OutSpeed, error) && r.Float(10, e.OutTime, error) &&
        r.Int(11, e.ChMode, error) && r.Int(12, e.ChNo, error)))
    return false;
  e.NoTunks = 0;
  return count < 13 || r.Int(13, e.NoTunks, error);
}

void ReadTask(const std::vector<std::string> &fields, TDefRecord &rec) {
  rec.Kind = TDefRecord::Task;
  rec.TaskEntry.Name = CutText(fields[2], NameLength);
  std::string line;
  for (size_t i = 3; i < fields.size(); ++i) line += fields[i] + " ";
  rec.TaskEntry.Line = CutText(line, TaskLineLength);
}

// Replaces the file as a whole; the old file stays intact on any failure.
bool WriteDefinitionsFile(const std::string &path, const std::string &text, std::string &error) {
  struct stat st;
  mode_t mode = 0;
  if (::stat(path.c_str(), &st) == 0) {
    // A file the operator made read-only stays as it is, as on Windows.
    if (!S_ISDIR(st.st_mode) && (st.st_mode & 0222) == 0) {
      error = std::string(std::strerror(EACCES)) + " (the file is read-only)";
      return false;
    }
    mode = st.st_mode & 07777;
  } else {
    mode = ::umask(0);
    ::umask(mode);
    mode = 0666 & ~mode;
  }
  try {
    ReplaceFileAtomically(path, text, mode);
  } catch (const std::system_error &e) {
    error = std::strerror(e.code().value());
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitFields(const std::string &line) {
  std::vector<std::string> fields;
  size_t i = 0, n = line.size();
  auto skipBlanks = [&] {
    while (i < n && IsBlank(line[i])) ++i;
  };
  skipBlanks();
  while (i < n) {
    size_t start = i;
    while (i < n && !IsBlank(line[i]) && line[i] != ';') ++i;
    fields.push_back(line.substr(start, i - start));
    skipBlanks();
    if (i < n && line[i] == ';') {
      if (i + 1 == n) fields.emplace_back();
      ++i;
      skipBlanks();
    }
  }
  return fields;
}

std::string FormatDefinitions() {
  std::vector<std::string> lines;
  lines.push_back(PosHeader);
  for (int i = 1; i <= PosCount; ++i) {
    const TPosEntry &e = PosTable[i];
    lines.push_back(Join({"pos", IntToStr(i), CleanName(e.Name), FormatPosition(e.X), FormatPosition(e.Y)}));
  }
  lines.emplace_back();
  for (const char *h : ProcHeader) lines.push_back(h);
  for (int i = 1; i <= ProcCount; ++i) {
    const TProcEntry &e = ProcTable[i];
    lines.push_back(Join({"prc", IntToStr(i), CleanName(e.Name), IntToStr(e.PosNo),
                          FormatPosition(e.UpperPos), FormatSpeed(e.InSpeed), FormatPosition(e.InTime),
                          FormatPosition(e.LowPos), FormatSpeed(e.OutSpeed), FormatPosition(e.OutTime),
                          IntToStr(e.ChMode), IntToStr(e.ChNo), IntToStr(e.NoTunks)}));
  }
  lines.emplace_back();
  lines.push_back(TaskHeader);
  for (int i = 1; i <= TaskCount; ++i) {
    TTaskEntry &e = TaskTable[i];
    // An empty last field would not read back as a field at all.
    if (e.Line.empty()) e.Line = "  ";
    lines.push_back(Join({"tsk", IntToStr(i), CleanName(e.Name), e.Line}));
  }
  std::string text;
  for (const std::string &l : lines) text += l + "\r\n";
  return text;
}

bool ParseDefinitions(const std::vector<std::string> &lines, std::vector<TDefRecord> &records,
                      std::string &error) {
  records.clear();
  for (size_t n = 0; n < lines.size(); ++n) {
    const int lineNo = static_cast<int>(n) + 1;
    const std::vector<std::string> fields = SplitFields(lines[n]);
    if (fields.empty() || fields[0].empty() || fields[0][0] == '#') continue;
    TRecordReader r(fields, lineNo);
    TDefRecord rec;
    if (fields[0] == "pos") {
      if (!ReadPos(r, rec, error)) return false;
    } else if (fields[0] == "prc") {
      if (!ReadProc(r, fields.size(), rec, error)) return false;
    } else if (fields[0] == "tsk") {
      if (!r.Need(3, error)) return false;
      ReadTask(fields, rec);
    } else {
      continue;
    }
    records.push_back(rec);
  }
  return true;
}

void ApplyDefinitions(const std::vector<TDefRecord> &records) {
  for (const TDefRecord &r : records) {
    switch (r.Kind) {
      case TDefRecord::Pos:
        ReportLine("$ pos detected");
        AppendPosition(r.PosEntry);
        break;
      case TDefRecord::Proc:
        ReportLine("$ prc detected");
        AppendProcess(r.ProcEntry);
        break;
      case TDefRecord::Task:
        ReportLine("$ tsk detected");
        AppendTask(r.TaskEntry);
        break;
    }
  }
  // The panels show the last entries; edits must go to the entry shown.
  CurPos = PosCount;
  CurProc = ProcCount;
  CurTask = TaskCount;
}

std::string DefinitionsText() {
  std::vector<std::string> lines;
  for (int i = 0; i < TaskSlots; ++i) lines.push_back(TaskTable[i].Line);
  const std::string text = FormatDefinitions();
  for (int i = 0; i < TaskSlots; ++i) TaskTable[i].Line = lines[size_t(i)];
  return text;
}

namespace {
TDefinitionsSource &Source() {
  static TDefinitionsSource s;
  return s;
}
void NoteSource(const std::string &path, const std::string &text, bool appended) {
  TDefinitionsSource &s = Source();
  s.Path = path, s.Text = text, s.Sha256 = Sha256Hex(text), s.Appended = appended;
  s.TablesText = DefinitionsText();
}
}  // namespace

const TDefinitionsSource &DefinitionsSource() { return Source(); }

bool SaveDefinitions(const std::string &path) {
  ReportLine("Save Tunker Definitions -> " + path);
  std::string error;
  const std::string text = FormatDefinitions();
  if (!WriteDefinitionsFile(path, text, error)) {
    AskOperator(TMsgKind::Error, "Cannot save the definitions to " + path + ": " + error, mbOK, mbOK);
    return false;
  }
  NoteSource(path, text, false);
  ReportLine("Tunker Definitions saved to " + path);
  return true;
}

bool LoadDefinitions(const std::string &path, bool append, const std::function<void()> &refresh) {
  ReportLine("Load definitions from file: " + path);
  std::vector<std::string> lines;
  std::string error, text;
  if (!ReadWholeFile(path, text, error) || !ReadTextLines(path, lines, error)) {
    AskOperator(TMsgKind::Error, "Cannot read the definitions file " + path + ": " + error, mbOK, mbOK);
    return false;
  }
  std::vector<TDefRecord> records;
  if (!ParseDefinitions(lines, records, error)) {
    AskOperator(TMsgKind::Error,
                "Definitions file " + path + " not loaded, " + error + ". Nothing was changed.", mbOK, mbOK);
    return false;
  }
  const bool appended = append && (PosCount || ProcCount || TaskCount);
  if (!append) ResetDefinitions();
  ApplyDefinitions(records);
  NoteSource(path, text, appended);
  if (refresh) refresh();
  PosNameNo = PosCount + 1;
  ProcNameNo = ProcCount;
  TaskNameNo = TaskCount;
  ReportLine("$ Definitions loaded from " + path);
  return true;
}
