// Any bytes as a definitions file: a load that fails leaves the tables as
// they were; one that passes fills them within their limits with finite
// numbers, and what is then saved reads back to the same file.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/Convert.h"
#include "recipes/Definitions.h"
#include "recipes/DefinitionsFile.h"
#include "Check.h"

namespace {

std::string Path() {
  // In memory where there is a tmpfs: a disk file per input is slow.
  static const std::string p = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                               "/kvfuzz-dip-" + std::to_string(getpid()) + ".dip";
  return p;
}

// What a load may change, as text.
std::string State() {
  return FormatDefinitions() + std::to_string(PosCount) + "," + std::to_string(ProcCount) + "," +
         std::to_string(TaskCount) + "," + std::to_string(CurPos) + "," + std::to_string(CurProc) + "," +
         std::to_string(CurTask) + "," + std::to_string(PosNameNo) + "," + std::to_string(ProcNameNo) + "," +
         std::to_string(TaskNameNo);
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The file written after reading `text` into empty tables.
std::string SavedAfterReading(const std::string &text) {
  std::vector<TDefRecord> records;
  std::string error;
  Check(ParseDefinitions(Lines(text), records, error));
  ResetDefinitions();
  ApplyDefinitions(records);
  return FormatDefinitions();
}

// At most `chars` characters (UTF-8 sequences count as one).
bool Fits(const std::string &text, size_t chars) {
  return text.size() <= 4 * chars && CutText(text, chars) == text;
}

std::string Squeezed(const std::string &text) {
  std::string s;
  for (char c : text) {
    if (c == '\r')
      while (!s.empty() && s.back() == ' ') s.pop_back();
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
  ResetDefinitions();
  AppendPosition(TPosEntry{"Beaker1", 12.5, 3});
  TProcEntry p;
  p.Name = "Dip";
  p.PosNo = 1;
  AppendProcess(p);
  AppendTask(TTaskEntry{"Task1", "Dip*2"});
  const std::string before = State();

  {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  const bool append = size % 2 == 1;
  const bool loaded = LoadDefinitions(Path(), append, nullptr);
  unlink(Path().c_str());
  if (!loaded) {
    Check(State() == before);
    return 0;
  }

  Check(PosCount <= PosLast && ProcCount <= ProcLast && TaskCount <= TaskLast);
  Check(CurPos == PosCount && CurProc == ProcCount && CurTask == TaskCount);
  for (int i = 1; i <= PosCount; ++i) {
    Check(Fits(PosTable[i].Name, NameLength));
    Check(std::isfinite(PosTable[i].X) && std::isfinite(PosTable[i].Y));
  }
  for (int i = 1; i <= ProcCount; ++i) {
    const TProcEntry &e = ProcTable[i];
    Check(Fits(e.Name, NameLength));
    for (double v : {e.UpperPos, e.LowPos, e.InSpeed, e.OutSpeed, e.InTime, e.OutTime})
      Check(std::isfinite(v));
  }
  for (int i = 1; i <= TaskCount; ++i)
    Check(Fits(TaskTable[i].Name, NameLength) && Fits(TaskTable[i].Line, TaskLineLength));

  // Saved and read back, the recipe writes the same file again, but for
  // runs of blanks in task lines (empty fields there read as blanks, and
  // blanks only separate the terms). From then on the file stays as it is.
  const std::string saved = FormatDefinitions();
  const std::string again = SavedAfterReading(saved);
  if (Squeezed(again) != Squeezed(saved) || SavedAfterReading(again) != again)
    fprintf(stderr, "saved:\n%s\nread back and saved:\n%s\n", saved.c_str(), again.c_str());
  Check(Squeezed(again) == Squeezed(saved));
  Check(SavedAfterReading(again) == again);
  return 0;
}
