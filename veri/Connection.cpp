#include "veri/Connection.h"

#include <cmath>
#include <string>

#include "base/Host.h"
#include "base/Machine.h"
#include "veri/LineCheck.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

IConnectionView *View = nullptr;

// Multi-line texts (a transport failure) become one log line each.
void ReportDirectLines(const std::string &text) {
  size_t start = 0;
  for (;;) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ReportDirect(text.substr(start));
      return;
    }
    ReportDirect(text.substr(start, end - start));
    start = end + 2;
  }
}

struct TCheck {
  bool AllConnected = true, AllReferenced = true, AllPowered = true, StopActive = false;
  int Progress = 0;
  void Step() {
    Progress += 5;
    if (View) View->SetProgress(Progress);
  }
};

void CheckAxis(uint8_t axis, TCheck &c) {
  TAxisConfig &a = Axes[axis];
  ReportDirect("Axis " + std::to_string(axis) + ": ");
  a.Changed = true;
  std::string answer = VERIDialog(axis, "VER");
  c.Step();
  if (answer.empty() || answer[0] == '*') {
    c.AllConnected = false;
    a.Connected = false;
    ReportDirectLines(answer);
    c.Step();
    return;
  }
  a.Connected = true;
  a.Version = answer.substr(0, 16);
  ReportDirect("VERI Software Version: " + answer);

  double value = 0;
  std::string error;
  VERIGetParam(axis, 403, value, error);
  c.Step();
  // A failed read says nothing about the axis: offer the reference run
  // rather than take it for referenced.
  if (error.empty() && value <= 1.0) {
    a.Referenced = true;
    VERIGetPosition(axis);
    ReportDirect(" (+) referenced.");
  } else {
    a.Referenced = false;
    c.AllReferenced = false;
    ReportDirect(" (-) not referenced!");
  }

  answer = VERIDialog(axis, "P134?");
  c.Step();
  if (answer.size() >= 2 && answer[1] == 'N') {
    a.MotorOn = true;
    ReportDirect(" (+) power ON.");
  } else {
    c.AllPowered = false;
    a.MotorOn = false;
    ReportDirect(" (-) power OFF!");
  }

  VERIGetParam(axis, 1013, value, error);
  c.Step();
  // A value beyond 64 bits (a garbled reply) has no bit to read and would
  // not even convert: it counts as pressed, like a failed read.
  if (std::fabs(value) < 9.0e18 && (static_cast<long long>(value) & 4)) {
    a.StopActive = false;
  } else {
    c.StopActive = true;
    a.StopActive = true;
    ReportDirect(" (-) Stop activated!");
  }
  c.Step();
}

const char *const WarningLines[8] = {
    "WARNING VERI [  1]: Software limit switch reached",
    "WARNING VERI [  2]: Temperature of electronics is almost at its limit!",
    "WARNING VERI [  4]: Voltage of electronics is at lower limit!",
    "WARNING VERI [  8]: Problem with conversion of position data!",
    "WARNING VERI [ 16]: Parameter out of range!",
    "WARNING VERI [ 32]: Step error (should never occur here!!)!",
    "WARNING VERI [ 64]: Limit position out of range (should never occur here!!)",
    "WARNING VERI [128]: Program error (should never occur here!!)!",
};

struct TErrorBit {
  int32_t Bit;
  const char *Line;
  const char *Box;
};

const TErrorBit ErrorBits[] = {
    {2, "*** ERROR VERI [  2]: Temperature of electronics exceeds limit!",
     "*** ERROR VERI [  2]: Temperature of electronics exceeds limit!\r\n"
     "Stop operation, wait for cooling, and find out the reason before restart."},
    {32, "*** ERROR VERI [ 32]: Step control error (should never occur here!!)!",
     "*** ERROR VERI [ 32]: Step control error (should never occur here!!)!\r\n"
     "Switch off electronics and start again.\r\n"
     "If this error occurs again, contact service."},
    {128, "*** ERROR VERI [128]: Shortage in power amplifier or motor!",
     "*** ERROR VERI [ 128]: Shortage in power amplifier or motor!\r\n"
     "Switch off electronics and check cable connections before zou restart.\r\n"
     "If this error occurs again, contact service."},
    {512, "*** ERROR VERI [512]: Low voltage of power supply!",
     "*** ERROR VERI [512]: Low voltage of power supply!\r\n"
     "Switch off electronics and start again.\r\n"
     "If this error occurs again, contact service."},
    {2048, "*** ERROR VERI [2048]: Step error (should never occur here!!)!",
     "*** ERROR VERI [2048]: Step error (should never occur here!!)!\r\n"
     "Switch off electronics and start again.\r\n"
     "If this error occurs again, contact service."},
};

}  // namespace

IConnectionView *SetConnectionView(IConnectionView *view) {
  IConnectionView *old = View;
  View = view;
  return old;
}

void VERICheckConnection() {
  TCheck c;
  if (View) View->SetProgress(0);
  ProcessMessages();
  // The line check rides on the check's own exchanges: nothing earned
  // before (another line, a controller since replaced) stays in force.
  VERILineBegin();
  std::vector<uint8_t> found;
  for (uint8_t axis = 1; axis <= 3; ++axis)
    if (axis != 2 || NMotors != 2) {
      CheckAxis(axis, c);
      if (Axes[axis].Connected) found.push_back(axis);
    }
  VERILineReport(found);

  if (c.AllConnected) {
    for (uint8_t axis = 1; axis <= 3; ++axis) Axes[axis].Connected = true;
    if (View) View->EnableManualMove();
  } else if (AskOperator(TMsgKind::Warning,
                         "No connection to VERI hardware. Check if COM1: port is connected and if power "
                         "is on. Retry checking connection or ignore it?",
                         mbRetry | mbIgnore, mbIgnore) == mbRetry) {
    VERICheckConnection();
  } else {
    AskOperator(TMsgKind::Information,
                "WARNING! You continue without confirmation of serial connection to hardware!", mbOK, mbOK);
  }

  c.Step();
  if (!c.AllPowered &&
      AskOperator(TMsgKind::Warning,
                  "At least one motor is without current. Switch ON now (you also can do it later)?",
                  mbYes | mbNo, mbNo) == mbYes)
    VERIMotorOnOff(255, true);

  c.Step();
  if (c.StopActive && AskOperator(TMsgKind::Warning, "STOP switch is activated. Releas knob and continue.",
                                  mbOK | mbIgnore, mbIgnore) == mbOK)
    VERICheckConnection();

  c.Step();
  if (!c.AllReferenced &&
      AskOperator(TMsgKind::Warning,
                  "At least one axes needs to go to the reference position. You want to do it now?",
                  mbYes | mbNo, mbNo) == mbYes)
    VERIGotoReference(255);

  c.Step();
  if (View) View->Finished();
}

void VERIExamineWarning(uint8_t axis) {
  int32_t warnings = 0;
  std::string error;
  VERIGetParamI(axis, 12, warnings, error);
  if (!error.empty()) ReportLine("VERIExamineWarning: " + error);
  if (warnings == 0) return;
  for (int bit = 0; bit < 8; ++bit)
    if (warnings & (1 << bit)) ReportLine(WarningLines[bit]);
  error = VERIPutParamI(axis, 12, 0);
  if (!error.empty()) ReportLine("VERIExamineWarning: " + error);
}

void VERIExamineError(uint8_t axis) {
  int32_t errors = 0;
  std::string error;
  VERIGetParamI(axis, 11, errors, error);
  if (!error.empty()) {
    ReportLine("VERIExamineError: " + error);
    return;
  }
  if (errors == 0) return;
  for (const TErrorBit &e : ErrorBits) {
    if (!(errors & e.Bit)) continue;
    ReportLine(e.Line);
    VERIMotorOnOff(255, false);
    AskOperator(TMsgKind::Error, e.Box, mbOK, mbOK);
  }
  if (errors & 8192) {
    ReportLine("*** ERROR VERI [8192]: Hardware limit switch open!");
    VERIMotorOnOff(axis, false);
    const std::string name = axis >= 1 && axis <= 3 ? Axes[axis].AxisName : std::string();
    AskOperator(TMsgKind::Error,
                "*** ERROR VERI [8192]: Hardware limit switch open!\r\n"
                "Before pressing [OK] move " +
                    name +
                    "-axis manually towards the center of the machine.\r\n"
                    "If this error occurs again, contact service.",
                mbOK, mbOK);
    VERIMotorOnOff(axis, true);
    error = VERIPutParamI(axis, 11, 0);
    if (!error.empty()) ReportLine("VERIExamineError: " + error);
  }
}
