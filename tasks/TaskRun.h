#pragma once
#include <string>

// The task buttons: Start runs the shown task, STOP ends a run, Check lists
// the task's terms without moving anything.

// Start: runs the task shown in the task panel (CurTask) and brings the
// machine home afterwards, whatever ended the run. Refused unless idle.
void TaskStart();
// STOP: asks a run to end; its controls stay locked until it has unwound.
void TaskStop();
// Whatever runs stops: a task run as by its STOP, anything else as by the
// manual STOP (closing the window while the machine is busy).
void StopAll();
// Check: walks the shown task's line in check mode.
void CheckSyntax();

// "dd.mm.yy hh:mm" of the present local time.
std::string TaskDateTimeText();
