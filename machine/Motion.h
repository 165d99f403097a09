#pragma once
// Every movement of the robot: one axis to a target (MoveTo), the positioning
// move over a stored position, the home move, the reference run and the STOP
// dialog. Positions in cm, speeds in cm/s; the controllers take mm and mm/min.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// StopRequest and the manual STOP's hold live with the operation state.
#include "base/OpState.h"
// How a move ended.
enum class TMoveOutcome {
  Reached,  // finished at its target, or no move was needed
  Stopped,  // STOP (pressed during the move, or before it could start), or
            // Yes at the emergency-stop box
  Failed,   // did not reach its target, or overran its time
  Lost,     // the controller gave no valid answer, or its position could not be read
};

// What a move did, as a value: how it ended, whether a command went out,
// when its poll first saw the axis stand, and the position read after it.
struct TMoveResult {
  TMoveOutcome Outcome = TMoveOutcome::Reached;
  bool Commanded = false;    // a move command went out
  bool SeenStanding = false;  // StandTick is valid
  uint32_t StandTick = 0;    // host tick of the poll that saw the axis stand
  int State = -1;            // state digit of the last poll (-1: none)
  bool PositionRead = false;  // the read after the move worked: Position holds it
  double Position = 0;       // cm
  bool Ok() const { return Outcome == TMoveOutcome::Reached; }
};

// Hears every position that a move's polls read (axis, cm); never a failed read.
using TPositionSink = std::function<void(uint8_t axis, double position)>;

// Moves `axis` (1..3) to `target` at `speed` (clamped to the axis's MaxSpeed)
// and waits for the end. A STOP seen at any event pump of the move, even
// after the poll saw the axis stand, makes it Stopped. Starts nothing once
// the program is ending.
TMoveResult Move(uint8_t axis, double speed, double target, const TPositionSink &sink = {});
// The same with the outcome as ok (true: Reached).
void MoveTo(uint8_t axis, bool &ok, double speed, double target);

// One leg of a sequence of moves: an axis and its target.
struct TLeg {
  uint8_t Axis;
  double Target;
};
// The legs of a positioning over (x, y): Z to the safe height, Y to the
// centre line when asked, X, then Y. The run, the estimate and the Goto
// button all travel this way.
std::vector<TLeg> TravelLegs(double x, double y);
// The legs of the move home: Z, Y, X.
std::vector<TLeg> HomeLegs();
// Moves the legs in order at CurrentSpeed until one does not reach its
// target or a STOP press has come since `stops` (StopLatch().Presses()); returns the
// last move's result (Stopped with nothing sent when a STOP stood between).
TMoveResult MoveLegs(const std::vector<TLeg> &legs, uint32_t stops, const TPositionSink &sink = {});

// A positioning, with the STOP dialog after a failure.
struct TTravelResult {
  TMoveResult Last;          // the last move made
  bool Ok = false;           // all legs reached
  bool Retried = false;      // the operator answered Retry at least once
  uint32_t RetryStops = 0;   // StopLatch().Presses() when Retry was last answered
};
// Z to the safe height, then X and Y over the stored position `name` at
// (x, y). A failure asks TaskAbort: Retry runs the whole positioning again.
TTravelResult Travel(const std::string &name, double x, double y, const TPositionSink &sink = {});
void MoveToTopfPosition(const std::string &name, double x, double y, bool &ok);
// The STOP dialog: true when the operator chooses Abort.
bool TaskAbort();
// Logic of the "Home" button; the result of its last move. When the program
// is ending it moves nothing and says so.
TMoveResult HomePos(const TPositionSink &sink = {});
void ReferencePos();

// The speed a move of `axis` drives: `speed` limited to the axis's MaxSpeed.
double DrivenSpeed(uint8_t axis, double speed);

// A target this close to the last read position needs no move (cm).
constexpr double MoveDeadBand = 0.005;

// What a poll's state digit means: the moving flag it leaves and the
// decoding it asks for (warnings at 2 and 3, errors at 4). `examine` is the
// axis whose registers are decoded (0: none).
void ApplyMotionState(int state, bool &moving, uint8_t examine);

// Pieces open for tests.
// Numbers of the trace lines: shortest general form, 15 significant digits.
std::string MotionNumber(double value);
// The move command: "V=<mm/min> WA=<mm> E", four decimals each.
std::string MoveCommand(double speed, double target);
// The state digit of a poll answer (its third character); false if none.
bool PollStateDigit(const std::string &answer, int &state);
// Longest time a move may take before it is stopped as overrun (ms).
uint32_t MoveTimeLimitMs(uint8_t axis, double speed, double target);
