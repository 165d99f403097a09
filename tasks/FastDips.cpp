// The fast dips' program at the Z controller: loading, and the watch.
#include "tasks/FastDips.h"

#include <string>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/Machine.h"
#include "base/OpState.h"
#include "veri/Connection.h"
#include "veri/Params.h"
#include "veri/Transport.h"

const char *const FastDipsEmergencyText =
    "        *** EMERGENCY STOP ***         \r\n"
    "To continue release red PUSH button \r\n"
    "(turn it right) \r\n"
    "Completely abort Task?.";

void LoadFastDips(uint8_t a, const TProcEntry &e) {
  ReportLine("Setting parameters at axis " + std::to_string(a));
  VERICall(a, "R0 = " + FloatToStrF(e.UpperPos * 10, 4));
  VERICall(a, "R1 = " + FloatToStrF(e.LowPos * 10, 4));
  VERICall(a, "R2 = " + FloatToStrF(e.OutSpeed * 600, 4));
  VERICall(a, "R3 = " + FloatToStrF(e.InSpeed * 600, 4));
  VERICall(a, "C1 = " + std::to_string(e.NoTunks));
  VERICall(a, "M1 = " + std::to_string(1));
  ReportLine("... done.");
}

TWatchEnd WatchFastDips(uint8_t a, const TPositionSink &sink, int32_t &shown,
                        const std::function<void(int32_t)> &toDo) {
  TAxisConfig &z = Axes[3];
  while (z.Moving) {
    // A failed read is no reading: the record hears only what was read.
    if (IsAxisAddress(a) && VERIGetPosition(a)) sink(a, Axes[a].Position);
    std::string answer;
    if (StopRequest) {
      ReportLine("$ Motor Stop " + VERIDialog(a, "S"));
      answer = "OK1";
    } else {
      answer = VERIDialog(a, "P0?");
    }
    int state = 0;
    if (!(answer.size() >= 3 && answer[2] == 'N')) {
      const std::string poll = VERIDialog(a, "");
      if (!PollStateDigit(poll, state)) {
        // No state digit: the controller is gone or talks nonsense. Its
        // program may still run, so it is told to stop.
        VERICall(a, "S");
        z.Moving = false;
        z.Changed = true;
        z.PositionUnknown = true;
        ReportLine("*** Fast Dips stopped: no valid answer from axis " + std::to_string(a) + ": " + poll);
        return TWatchEnd::Lost;
      }
    }
    ApplyMotionState(state, z.Moving, IsAxisAddress(a) ? a : 0);
    int32_t left = 0;
    std::string error;
    VERIGetParamI(a, 100, left, error);
    if (error.empty() && left != shown) {
      shown = left;
      toDo(left);
    }
    ProcessMessages();
    SleepMs(5);
  }
  return TWatchEnd::Stands;
}

