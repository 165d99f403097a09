#include "recipes/Definitions.h"

#include "base/Machine.h"

TPosEntry PosTable[PosSlots];
TProcEntry ProcTable[ProcSlots];
TTaskEntry TaskTable[TaskSlots];
uint8_t PosCount, ProcCount, TaskCount;
uint8_t CurPos, CurProc, CurTask;
int32_t PosNameNo = 1, ProcNameNo, TaskNameNo;

namespace {

// Appends to a table with last index `count`; the new slot becomes `cur`.
template <typename T>
bool Append(T *table, uint8_t &count, uint8_t last, uint8_t &cur, const T &entry) {
  if (count >= last) return false;
  ++count;
  table[count] = entry;
  cur = count;
  return true;
}

template <typename T>
bool Delete(T *table, uint8_t &count, uint8_t &cur) {
  if (cur == 0 || cur > count) return false;
  for (int i = cur; i < count; ++i) table[i] = table[i + 1];
  if (cur == count) --cur;
  --count;
  return true;
}

}  // namespace

void ResetDefinitions() {
  PosCount = ProcCount = TaskCount = 0;
  CurPos = CurProc = CurTask = 0;
  PosTable[0] = TPosEntry{"undefined", 0, 0};
  ProcTable[0] = TProcEntry();
  ProcTable[0].Name = "undefined";
  TaskTable[0] = TTaskEntry{"none", ""};
  PosNameNo = 1;
  ProcNameNo = 0;
  TaskNameNo = 0;
}

bool AddPosition() {
  if (PosCount >= PosLast) return false;
  TPosEntry e{"Pos" + std::to_string(PosNameNo), 0, 0};
  ++PosNameNo;
  return Append(PosTable, PosCount, PosLast, CurPos, e);
}

bool AddProcess() {
  if (ProcCount >= ProcLast) return false;
  ++ProcNameNo;
  TProcEntry e;
  e.Name = "TunkProc" + std::to_string(ProcNameNo);
  e.PosNo = PosCount;
  e.InSpeed = e.OutSpeed = CurrentSpeed;
  e.UpperPos = MachineSettings.StandardZ;
  e.LowPos = Axes[3].MaxPosition;
  e.InTime = e.OutTime = 1.0;
  return Append(ProcTable, ProcCount, ProcLast, CurProc, e);
}

bool AddTask() {
  if (TaskCount >= TaskLast) return false;
  ++TaskNameNo;
  return Append(TaskTable, TaskCount, TaskLast, CurTask, TTaskEntry{"Task" + std::to_string(TaskNameNo), ""});
}

bool AppendPosition(const TPosEntry &entry) { return Append(PosTable, PosCount, PosLast, CurPos, entry); }
bool AppendProcess(const TProcEntry &entry) { return Append(ProcTable, ProcCount, ProcLast, CurProc, entry); }
bool AppendTask(const TTaskEntry &entry) { return Append(TaskTable, TaskCount, TaskLast, CurTask, entry); }

bool DeletePosition() { return Delete(PosTable, PosCount, CurPos); }
bool DeleteProcess() { return Delete(ProcTable, ProcCount, CurProc); }
bool DeleteTask() { return Delete(TaskTable, TaskCount, CurTask); }

uint8_t FindProcessByName(const std::string &name) {
  for (int i = ProcCount; i >= 1; --i)
    if (ProcTable[i].Name == name) return static_cast<uint8_t>(i);
  return 0;
}

namespace {
// The placeholders hold from the very start, before any reset.
struct TInitDefinitions {
  TInitDefinitions() { ResetDefinitions(); }
} InitDefinitions;
}  // namespace
