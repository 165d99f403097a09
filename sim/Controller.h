#pragma once
// One simulated VERI controller: parameters, motion in simulated time, the
// stored program and the built-in fast-dip program. Plain logic; the caller
// passes the simulated time (ms) with every call, so tests drive the clock.
#include <map>
#include <string>
#include <vector>

class TSimController {
public:
  explicit TSimController(int address = 1);

  // Runs one command (the text after "#a ") and returns the answer words
  // ("" for commands that only echo).
  std::string Execute(const std::string &command, double nowMs);
  // Moves the simulated motion on to nowMs.
  void Advance(double nowMs);

  // Fault and state injection from the control interface.
  void SetEmergencyStop(bool pressed, double nowMs);
  void SetLimitSwitch(bool open, double nowMs);
  void AddWarnings(int bits) { Warnings |= bits; }
  void AddErrors(int bits) { Errors |= bits; }
  void SetSoftLimits(double minMm, double maxMm) { SoftMin = minMm; SoftMax = maxMm; }

  // What tests and notes look at.
  int Address;
  double Position = 10.0;  // mm
  bool MotorOn = false;
  int RefState = 5;        // P403
  int Warnings = 0;        // P12
  int Errors = 0;          // P11
  int DipsToDo = 0;        // P100
  bool EmergencyStop = false;
  bool LimitOpen = false;
  double SoftMin = 0, SoftMax = 1000;
  double RefSpeed = 1200;  // mm/min of the reference run
  std::map<int, double> Params;   // every other parameter as written
  std::vector<std::string> Program;  // lines stored between NEW and QUIT
  bool Moving() const { return Motion != mNone; }
  bool ProgramRunning() const { return Motion == mDipTop || Motion == mDipDown || Motion == mDipUp; }
  int StateDigit() const;
  // Notes for the log (a refused move, a limit reached); taken by the bus.
  std::vector<std::string> TakeNotes();

private:
  enum TMotion { mNone, mMove, mReference, mManual, mDipTop, mDipDown, mDipUp };
  TMotion Motion = mNone;
  double Target = 0, SpeedMmPerMs = 0;
  bool ClampedTarget = false;
  double LastMs = 0;
  bool Entering = false;   // between NEW and QUIT
  size_t ListCursor = 0;
  // Fast-dip registers and a halted program that RUN resumes.
  double R[4] = {0, 0, 0, 0};
  int C1 = 0, M1 = 1;
  TMotion Halted = mNone;
  std::vector<std::string> Notes;

  std::string Read(int n) const;
  void Write(int n, double v, double nowMs);
  std::string Run(double nowMs);
  std::string StartMove(double speed, double target);
  void StartMotion(TMotion m, double target, double speedMmPerMin);
  void Stop();
  void Arrived();
  bool CanMove(const char *what);
};

// Number as the controller prints it: integer form when whole, else up to
// three decimals without trailing zeros; "." always.
std::string SimNumber(double v);
// Decimal number with "." (also "+" sign); false if the text is not one.
bool SimParseNumber(const std::string &text, double &value);
