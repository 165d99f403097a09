#pragma once
// The recipe: positions, processes and tasks, one program-wide set.
// Slots 0..<Count> are in use; slot 0 always holds a placeholder.
#include <cstdint>
#include <string>

struct TPosEntry {
  std::string Name;  // at most 16 characters
  double X = 0;
  double Y = 0;
};

struct TProcEntry {
  std::string Name;  // at most 16 characters
  uint8_t PosNo = 0;
  double InSpeed = 0;
  double OutSpeed = 0;
  double UpperPos = 0;
  double LowPos = 0;
  double InTime = 0;  // 0 or less: fast dips run by the Z controller
  double OutTime = 0;
  int32_t ChNo = 0;
  int32_t ChMode = 0;
  int32_t NoTunks = 0;
};

struct TTaskEntry {
  std::string Name;  // at most 16 characters
  std::string Line;  // at most 255 characters
};

constexpr int PosSlots = 256;
constexpr int ProcSlots = 128;
constexpr int TaskSlots = 32;
// Highest last index reachable by adding.
constexpr uint8_t PosLast = PosSlots - 1;
constexpr uint8_t ProcLast = ProcSlots - 1;
constexpr uint8_t TaskLast = TaskSlots - 1;
constexpr size_t NameLength = 16;
constexpr size_t TaskLineLength = 255;

extern TPosEntry PosTable[PosSlots];
extern TProcEntry ProcTable[ProcSlots];
extern TTaskEntry TaskTable[TaskSlots];
extern uint8_t PosCount, ProcCount, TaskCount;
extern uint8_t CurPos, CurProc, CurTask;
extern int32_t PosNameNo, ProcNameNo, TaskNameNo;

// Empty recipe: counts and shown slots 0, placeholders in slot 0, running
// numbers back to their start. Slots above the counts keep what they held.
void ResetDefinitions();

// The New buttons: one more entry with its default name and values, shown
// as the current slot. False (and nothing changed) when the table is full.
bool AddPosition();
bool AddProcess();
bool AddTask();

// Loading: one more entry holding `entry`, shown as the current slot.
// False when the table is full; then nothing changes.
bool AppendPosition(const TPosEntry &entry);
bool AppendProcess(const TProcEntry &entry);
bool AppendTask(const TTaskEntry &entry);

// The Delete buttons: the current entry goes, later ones move down by one.
// Nothing happens while the placeholder (slot 0) is shown: deleting it
// would move entry 1 into the slot that is never saved nor found by name.
bool DeletePosition();
bool DeleteProcess();
bool DeleteTask();

// Index of the last process 1..ProcCount named exactly `name`, 0 if none.
uint8_t FindProcessByName(const std::string &name);
