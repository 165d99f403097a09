#include "recipes/Definitions.h"

TPosEntry PosTable[PosSlots];
TProcEntry ProcTable[ProcSlots];
TTaskEntry TaskTable[TaskSlots];
uint8_t PosCount, ProcCount, TaskCount;
uint8_t CurPos, CurProc, CurTask;
int32_t PosNameNo = 1, ProcNameNo, TaskNameNo;
