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
  double InTime = 0;   // 0 or less: fast dips run by the Z controller
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

extern TPosEntry PosTable[PosSlots];
extern TProcEntry ProcTable[ProcSlots];
extern TTaskEntry TaskTable[TaskSlots];
extern uint8_t PosCount, ProcCount, TaskCount;
extern uint8_t CurPos, CurProc, CurTask;
extern int32_t PosNameNo, ProcNameNo, TaskNameNo;
