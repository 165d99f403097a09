#pragma once
// Every movement of the robot: one axis to a target (MoveTo), the positioning
// move over a stored position, the home move, the reference run and the STOP
// dialog. Positions in cm, speeds in cm/s; the controllers take mm and mm/min.
#include <cstdint>
#include <string>

// StopRequest and the manual STOP's hold live with the operation state.
#include "base/OpState.h"
// State digit of the last motion poll (0 moving, 1 done, 2/3 with a warning,
// 4 error); -1 before the first poll.
extern int MotionState;

// How the last MoveTo ended, and when its poll first saw the axis stand
// (tick); what the run record notes of every stroke.
enum class TMoveOutcome { Reached, Stopped, Failed, Lost };
extern TMoveOutcome LastMoveOutcome;
extern uint32_t LastMoveEndTick;
// Hears every position read while a move is watched (null: nobody).
extern void (*MovePositionListener)(uint8_t axis, double position);

// Moves `axis` (1..3) to `target` at `speed` (clamped to the axis's MaxSpeed)
// and waits for the end. ok false: stopped, emergency stop (operator said
// Yes), controller lost or the move overran its time.
void MoveTo(uint8_t axis, bool &ok, double speed, double target);
// Z to the safe height, then X and Y over the stored position `name` at
// (x, y). A failure asks TaskAbort: Retry runs the whole positioning again.
void MoveToTopfPosition(const std::string &name, double x, double y, bool &ok);
// The STOP dialog: true when the operator chooses Abort.
bool TaskAbort();
// Logic of the "Home" and "Ref" buttons.
void HomePos();
void ReferencePos();

// Pieces open for tests.
// Numbers of the trace lines: shortest general form, 15 significant digits.
std::string MotionNumber(double value);
// The move command: "V=<mm/min> WA=<mm> E", four decimals each.
std::string MoveCommand(double speed, double target);
// The state digit of a poll answer (its third character); false if none.
bool PollStateDigit(const std::string &answer, int &state);
// Longest time a move may take before it is stopped as overrun (ms).
uint32_t MoveTimeLimitMs(uint8_t axis, double speed, double target);
