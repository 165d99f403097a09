#pragma once
// One simulated VERI controller: parameters, motion in simulated time (with
// acceleration ramps), the stored program and the built-in fast-dip program.
// Plain logic; the caller passes the simulated time (ms) with every call, so
// tests drive the clock.
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
  // Simulated time at which the motion under way ends a stroke, or -1.
  double NextStrokeEnd() const;
  // Back as after switching the electronics off and on: motion stopped,
  // motor current off, not referenced, registers clear; the stored program
  // and the position counter stay.
  void PowerUp(double nowMs);
  bool EnteringProgram() const { return Entering; }

  // Fault and state injection from the control interface.
  void SetEmergencyStop(bool pressed, double nowMs);
  void SetLimitSwitch(bool open, double nowMs);
  void AddWarnings(int bits) { Warnings |= bits; }
  // An error stops the motion at once, as the drive switches off.
  void AddErrors(int bits, double nowMs = 0);
  // P1013 as the inputs read; bit 2 clear is a pressed emergency stop.
  void SetInputs(int bits, double nowMs);
  // A parameter set from outside, as the line would write it; P1013 sets
  // the inputs.
  void SetParameter(int n, double v, double nowMs);
  void SetSoftLimits(double minMm, double maxMm) {
    SoftMin = minMm;
    SoftMax = maxMm;
  }

  // What tests and notes look at.
  int Address;
  double Position = 10.0;  // mm
  bool MotorOn = false;
  int RefState = 5;  // P403
  int Warnings = 0;  // P12
  int Errors = 0;    // P11
  int DipsToDo = 0;  // P100
  bool EmergencyStop = false;
  bool LimitOpen = false;
  double SoftMin = 0, SoftMax = 1000;
  double RefSpeed = 1200;  // mm/min of the reference run
  // Ramps of every stroke, mm/s^2; 0 reaches full speed at once.
  double Acceleration = 0;
  std::map<int, double> Params;      // every other parameter as written
  std::vector<std::string> Program;  // lines stored between NEW and QUIT
  bool Moving() const { return Motion != mNone; }
  bool ProgramRunning() const { return Motion == mDipTop || Motion == mDipDown || Motion == mDipUp; }
  int StateDigit() const;
  // Notes for the log (a refused move, a limit reached); taken by the bus.
  std::vector<std::string> TakeNotes();
  // Starts and ends of strokes with their simulated time: "moves to 25",
  // "stands at 25" (mm, up to two decimals); taken by the bus.
  struct TStroke {
    double AtMs;
    std::string Text;
  };
  std::vector<TStroke> TakeStrokes();

private:
  enum TMotion { mNone, mMove, mReference, mManual, mDipTop, mDipDown, mDipUp };
  TMotion Motion = mNone;
  double Target = 0, SpeedMmPerMs = 0;
  bool ClampedTarget = false;
  double LastMs = 0;
  // The stroke under way: a trapezoid (or triangle) from From at StartMs
  // with entry speed V0, peak speed Vp, ramp times and cruise time.
  struct TProfile {
    double StartMs = 0, From = 0, Dir = 1, V0 = 0, Vp = 0, Up = 0, Down = 0, Ta = 0, Tc = 0, Td = 0;
    double Total() const { return Ta + Tc + Td; }
    double Distance(double t) const;
    double Speed(double t) const;
  } Profile;
  double Shown = 10.0;  // Position as the profile last set it
  std::vector<TStroke> Strokes;
  void Plan(double speedMmPerMs, double entrySpeed);
  bool Entering = false;  // between NEW and QUIT
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
