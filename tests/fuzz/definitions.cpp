// Any bytes as a definitions file: a load that fails leaves the tables as
// they were; one that passes fills them within their limits with finite
// numbers, and what is then saved reads back to the same file.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/Convert.h"
#include "recipes/Definitions.h"
#include "recipes/DefinitionsFile.h"
#include "Check.h"

namespace {

// What a load may change, as text.
std::string State() {
  std::string s = FormatDefinitions();
  const int counts[] = {PosCount, ProcCount, TaskCount,  CurPos,    CurProc,
                        CurTask,  PosNameNo, ProcNameNo, TaskNameNo};
  for (int n : counts) s += "," + std::to_string(n);
  return s;
}

// The file written after reading `text` into empty tables.
std::string SavedAfterReading(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  std::vector<TDefRecord> records;
  std::string error;
  Check(ParseDefinitions(lines, records, error));
  ResetDefinitions();
  ApplyDefinitions(records);
  return FormatDefinitions();
}

// At most `chars` characters (UTF-8 sequences count as one).
bool Fits(const std::string &text, size_t chars) {
  return text.size() <= 4 * chars && CutText(text, chars) == text;
}

// Runs of blanks as one, none before a CR: empty fields of task lines read
// back as blanks, and blanks only separate the terms.
std::string Squeezed(const std::string &text) {
  std::string s;
  for (char c : text) {
    while (c == '\r' && !s.empty() && s.back() == ' ') s.pop_back();
    if (c != ' ' || s.empty() || s.back() != ' ') s += c;
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Numbers must read alike whatever the locale; a decimal comma one tells.
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) std::setlocale(LC_ALL, "de_DE.utf8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // In memory where there is a tmpfs: a disk file per input is slow.
  static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/kvfuzz-dip-" + std::to_string(getpid()) + ".dip";
  ResetDefinitions();
  AppendPosition(TPosEntry{"Beaker1", 12.5, 3});
  TProcEntry p;
  p.Name = "Dip";
  p.PosNo = 1;
  AppendProcess(p);
  AppendTask(TTaskEntry{"Task1", "Dip*2"});
  const std::string before = State();
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char *>(data), size);
  const bool loaded = LoadDefinitions(path, size % 2 == 1, nullptr);
  unlink(path.c_str());
  Check(loaded || State() == before);
  if (!loaded) return 0;

  Check(PosCount <= PosLast && ProcCount <= ProcLast && TaskCount <= TaskLast);
  Check(CurPos == PosCount && CurProc == ProcCount && CurTask == TaskCount);
  for (int i = 1; i <= PosCount; ++i)
    Check(Fits(PosTable[i].Name, NameLength) && std::isfinite(PosTable[i].X) && std::isfinite(PosTable[i].Y));
  for (int i = 1; i <= ProcCount; ++i) {
    const TProcEntry &e = ProcTable[i];
    Check(Fits(e.Name, NameLength));
    for (double v : {e.UpperPos, e.LowPos, e.InSpeed, e.OutSpeed, e.InTime, e.OutTime})
      Check(std::isfinite(v));
  }
  for (int i = 1; i <= TaskCount; ++i)
    Check(Fits(TaskTable[i].Name, NameLength) && Fits(TaskTable[i].Line, TaskLineLength));

  // Saved and read back, the recipe writes the same file again but for runs
  // of blanks in task lines; from then on the file stays as it is.
  const std::string saved = FormatDefinitions(), again = SavedAfterReading(saved);
  Check(Squeezed(again) == Squeezed(saved));
  Check(SavedAfterReading(again) == again);
  return 0;
}
