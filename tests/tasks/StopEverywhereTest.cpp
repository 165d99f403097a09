// STOP pressed at every event pump of a reference task, and again at every
// pump of the move home that follows: the frames the controllers receive
// after the press hold no motion but the move home and what an operator
// answer given after it asks for; a moving axis gets "S" before the next
// pump; a STOP is pressable whenever anything moves; the run ends, the
// controls come back and the log ends with the end line.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/Machine.h"
#include "base/OpState.h"
#include "recipes/Definitions.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "support/TempDir.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"

namespace {

const char *const StopDialog = "        *** STOP ***";

bool IsMotion(const std::string &frame) {
  return frame.find(" WA=") != std::string::npos || frame.find(" RUN\r") != std::string::npos ||
         frame.find(" H\r") != std::string::npos;
}

// One run of the reference task: a positioning that meets the emergency stop
// at X (box: Yes), the STOP dialog (the operator releases the button and
// answers Retry), step-by-step dips switching channel 2 at every step, fast
// dips, the move home.
class TStopRun : public IOperator {
public:
  // Pumps at which STOP is pressed (1-based); the answer to the first
  // question asked after the first press (0: the script's own).
  std::vector<uint64_t> PressAt;
  unsigned FirstAnswer = 0;

  // What the run showed.
  uint64_t Pumps = 0, HomeFrom = 0, HomeTo = 0;  // pumps of the move home: (HomeFrom, HomeTo]
  std::vector<std::string> Faults;               // broken rules
  std::vector<std::string> Log;
  size_t QuestionsAfterPress = 0;
  unsigned FirstButtons = 0;  // buttons of the first question after the first press
  bool FirstStop = false;     // ... and it was the STOP dialog

  void Go() {
    THostFixture h;
    TSimLinePort port;
    Port = &port;
    H = &h;
    ResetMachineDefaults();
    ResetDefinitions();
    AbortRequest = false;
    StopRequest = false;
    for (int a = 1; a <= 3; ++a) {
      port.Ctl(a).MotorOn = true;
      Axes[a].Position = port.Ctl(a).Position / 10.0;
    }
    DigOutCount = 4;
    DigOutTable[2].Address = 3;
    DigOutTable[2].Pin = 4;
    MachineSettings.HomeX = 1, MachineSettings.HomeY = 2, MachineSettings.HomeZ = 3;
    AppendPosition({"Rinse", 4, 3});
    AppendPosition({"Coat", 8, 6});
    // Fields: name, position, down and up speed, top and bottom, times, channel and its mode, dips.
    AppendProcess({"Dip", 2, 2, 2, 5, 6, 0.2, 0.2, 2, 3, 2});
    AppendProcess({"Fast", 1, 2, 2, 5, 6, 0, 0.2, 0, 3, 2});
    AppendTask({"T", "Dip + Fast"});
    CurTask = TaskCount;
    port.Control("estop 1 press");

    h.Report.Lines.reserve(4000);
    Host().Operator = this;
    h.Events.OnPump = [this] { Pump(); };
    TaskStart();
    Pumps = h.Events.Pumps;
    Log = h.Report.Lines;
    Check(true);
    if (OpState() != Idle) Faults.push_back("not idle after the run");
    if (!ControlsFor(OpState(), true, true).TaskStart) Faults.push_back("Start not given back");
    if (Log.empty() || Log.back() != "-- End Task ---.") Faults.push_back("no end line last");
    if (!std::count(Log.begin(), Log.end(), "  ... done.")) Faults.push_back("no '  ... done.'");
    Port = nullptr;
  }

private:
  TSimLinePort *Port = nullptr;
  THostFixture *H = nullptr;
  size_t Pressed = 0;           // presses made so far
  size_t Checked = 0;           // frames checked so far
  size_t FreeMoves = 0;         // motion commands an answer after the press allows
  bool Answered = false;        // Retry after the press: the run may go on
  std::set<int> OweS;           // addresses that must get "S" before the next pump
  size_t OweFrom = 0;           // ... in frames from here on
  bool Home = false;            // the move home has begun
  bool HomeAfterPress = false;  // ... after the last press
  size_t Scanned = 0;           // log lines looked at

  // The operator's answers.
  unsigned Ask(TMsgKind, const std::string &text, unsigned buttons, unsigned, unsigned) override {
    Check(false);
    const bool stopDialog = text.rfind(StopDialog, 0) == 0;
    if (stopDialog) Port->Control("estop 1 release");
    unsigned answer = stopDialog ? mbRetry : mbYes;
    if (Pressed > 0) {
      if (QuestionsAfterPress++ == 0) {
        FirstButtons = buttons;
        FirstStop = stopDialog;
        if (FirstAnswer) answer = FirstAnswer;
      } else {
        answer = stopDialog ? mbAbort : mbYes;  // later questions end the run
      }
      if (answer == mbRetry) Answered = true;
      if (answer == mbAbort && !stopDialog) ++FreeMoves;  // the move is made again
    }
    return answer;
  }

  void Pump() {
    const uint64_t n = H->Events.Pumps;
    Check(false);
    if (!OweS.empty()) {
      for (int a : OweS) Faults.push_back("pump " + std::to_string(n) + ": no S to #" + std::to_string(a));
      OweS.clear();
    }
    Scan(n);
    Port->NextClusterLength();  // the controllers' motion up to now
    bool moving = false;
    for (int a = 1; a <= 3; ++a) moving = moving || Port->Ctl(a).Moving();
    const TControls c = ControlsFor(OpState(), true, true);
    if (moving && !c.TaskStop && !c.ManualStop) Faults.push_back("pump " + std::to_string(n) + ": no STOP");
    if (Pressed < PressAt.size() && n == PressAt[Pressed]) {
      ++Pressed;
      Answered = false;
      HomeAfterPress = false;
      FreeMoves = 0;
      if (Pressed == 2 && !Home) Faults.push_back("second press outside the move home");
      for (int a = 1; a <= 3; ++a)
        if (Port->Ctl(a).Moving()) OweS.insert(a);
      OweFrom = Port->Sent.size();
      if (c.TaskStop) TaskStop();
      else if (c.ManualStop) ManualStopPress();
    }
  }

  void Scan(uint64_t n) {
    const std::vector<std::string> &lines = H->Report.Lines;
    for (; Scanned < lines.size(); ++Scanned) {
      if (lines[Scanned] == "Moving to home position ..") {
        Home = HomeAfterPress = true;
        HomeFrom = n - 1;
      }
      if (Home && HomeTo == 0 && lines[Scanned] == "  ... done.") HomeTo = n - 1;
    }
  }

  // Frames sent since the last check against the rules of the presses.
  void Check(bool end) {
    Scan(H->Events.Pumps + 1);
    const std::vector<std::string> &sent = Port->Sent;
    for (; Checked < sent.size(); ++Checked) {
      const std::string &f = sent[Checked];
      if (Checked >= OweFrom)
        for (auto it = OweS.begin(); it != OweS.end();)
          it = f == "#" + std::to_string(*it) + " S\r" ? OweS.erase(it) : std::next(it);
      if (Pressed == 0 || Answered || !IsMotion(f) || Checked < OweFrom) continue;
      // The first press ends the run and home may move, when the move home
      // begins after it; a press during the move home ends it too.
      if (Pressed == 1 && HomeAfterPress) continue;
      if (FreeMoves > 0) {
        --FreeMoves;
        continue;
      }
      Faults.push_back("motion after STOP " + std::to_string(Pressed) + ": " + f);
    }
    if (end && !OweS.empty()) Faults.push_back("no S before the end");
  }
};

std::string Dump(const TStopRun &r) {
  std::string s;
  for (auto &f : r.Faults) s += "  " + f + "\n";
  s += "log tail:\n";
  for (size_t i = r.Log.size() > 12 ? r.Log.size() - 12 : 0; i < r.Log.size(); ++i)
    s += "  " + r.Log[i] + "\n";
  return s;
}

// Every run writes its record in the test's own folder.
class StopEverywhere : public TTempDirTest {
protected:
  void TearDown() override {
    TTempDirTest::TearDown();
    SetOpState(Idle);
  }
};

TEST_F(StopEverywhere, EveryPumpEveryAnswerAndAgainDuringTheMoveHome) {
  TStopRun clean;
  clean.Go();
  ASSERT_TRUE(clean.Faults.empty()) << Dump(clean);
  // The clean run holds every kind of step.
  for (const char *line : {"  Fast Dip 2 of 2", "FastDips to do: 0", "Moving to home position .."})
    ASSERT_TRUE(std::count(clean.Log.begin(), clean.Log.end(), line)) << line;
  ASSERT_GT(clean.HomeTo, clean.HomeFrom);

  size_t runs = 0, points = 0, homePoints = 0;
  std::set<uint64_t> homeOffsets;  // pumps of a move home met, counted from its start
  for (uint64_t k = 1; k <= clean.Pumps; ++k) {
    TStopRun first;
    first.PressAt = {k};
    first.Go();
    ++runs, ++points;
    ASSERT_TRUE(first.Faults.empty()) << "STOP at pump " << k << "\n" << Dump(first);
    // Each other answer to the first question asked after the press.
    for (unsigned b = mbYes; b <= mbIgnore; b <<= 1) {
      if (!(first.FirstButtons & b) || first.QuestionsAfterPress == 0) continue;
      TStopRun other;
      other.PressAt = {k};
      other.FirstAnswer = b;
      other.Go();
      ++runs;
      ASSERT_TRUE(other.Faults.empty()) << "STOP at pump " << k << ", answer " << b << "\n" << Dump(other);
      // At the STOP dialog, Retry goes on with the task and Abort ends it with no second box.
      const bool doneFast = std::count(other.Log.begin(), other.Log.end(), "... done with FastDips");
      EXPECT_TRUE(!other.FirstStop || (b == mbRetry ? doneFast : other.QuestionsAfterPress == 1)) << k;
    }
    // Again during its move home: each run at the next pump of the move
    // home, round and round, so every pump of it is met many times over.
    if (first.HomeTo > first.HomeFrom) {
      const uint64_t j = first.HomeFrom + 1 + homePoints % (first.HomeTo - first.HomeFrom);
      homeOffsets.insert(j - first.HomeFrom);
      TStopRun again;
      again.PressAt = {k, j};
      again.Go();
      ++runs, ++homePoints;
      ASSERT_TRUE(again.Faults.empty()) << "STOP at pumps " << k << " and " << j << "\n" << Dump(again);
      EXPECT_LE(again.Pumps, first.Pumps) << "the stopped move home went on";
    }
  }
  std::printf(
      "STOP pressed at %zu pumps; again during the move home in %zu runs, at %zu of its pumps; %zu runs\n",
      points, homePoints, homeOffsets.size(), runs);
}

}  // namespace
