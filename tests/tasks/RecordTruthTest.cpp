// The run record held against what the simulated controllers did, with a
// fault at every exchange of a reference task: the controller of that
// exchange falls silent from there, answers it with garbage, stops the move
// short at a soft limit, meets its emergency stop; the operator presses
// STOP at the next pump; the record's folder goes away there and comes back
// after the run. Every run is checked against the controllers' journal:
// a row says "done" only where the axis stood at its target when the row
// says it was reached; every position in the record is one the axis passed
// near that time; the end row names what ended the run; the log ends with
// the end line; the record on disk holds every row the run made.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "base/Machine.h"
#include "base/OpState.h"
#include "recipes/Definitions.h"
#include "record/RunRecord.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "support/TempDir.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"

namespace {

enum TFault { Silent, Garbled, Short, Emergency, Stop, Disk, Faults };
const char *const FaultName[] = {"silent", "garbled", "short", "emergency", "stop", "disk"};
// What a row that did not go as asked may say under each fault ("": any
// verdict). An unreadable emergency input counts as pressed: its box,
// answered Yes, stops the run.
const char *const FaultEnd[] = {"|controller lost|stopped|", "", "|move failed|", "|stopped|", "|stopped|", ""};

// One axis's journal: from a time on, standing at a position or moving to a target (mm).
struct TMotionAt {
  double At;
  bool Stands;
  double Mm;
};

class TTruthRun : public TSimLinePort, public IOperator {
public:
  size_t At = 0;  // the faulty exchange (1-based), 0 none
  TFault Kind = Silent;
  std::vector<std::string> Broken;  // rules the run broke
  std::map<int, std::vector<TMotionAt>> Journal;

  void SendFrame(const std::string &text, bool answerWords) override {
    if (Sent.size() + 1 == At) Inject(text);
    TSimLinePort::SendFrame(text, answerWords);
  }
  unsigned Ask(TMsgKind, const std::string &text, unsigned buttons, unsigned, unsigned) override {
    for (int a = 1; a <= 3; ++a) Control("estop " + std::to_string(a) + " release");
    if (text.find("*** STOP ***") != std::string::npos) return mbAbort;
    return buttons & mbYes ? mbYes : buttons & -buttons;
  }

  void Go(THostFixture &h) {
    // Short travels and slower answers: fewer polls, the same kinds of step.
    Bus.Latency.Ms = 20;
    const double start[] = {0, 75, 55, 50};
    for (int a = 1; a <= 3; ++a) {
      Ctl(a).Position = start[a];
      Ctl(a).MotorOn = true;
      Axes[a].Position = Ctl(a).Position / 10.0;
      Journal[a].push_back({-1e18, true, Ctl(a).Position});
    }
    Bus.Log = [this](const std::string &l) {
      char what[16] = {};
      int a = 0;
      double mm = 0;
      if (std::sscanf(l.c_str() + l.find(' '), " == #%d %15[a-z ] %lf", &a, what, &mm) == 3)
        Journal[a].push_back({std::atof(l.c_str()), std::string(what) == "stands at ", mm});
    };
    Host().Operator = this;
    h.Events.OnPump = [this] {
      if (Pressed == 1) Pressed = 2, TaskStop();
    };
    TaskStart();
    h.Events.OnPump = nullptr;
    if (h.Report.Lines.empty() || h.Report.Lines.back() != "-- End Task ---.") Broken.push_back("no end line");
    if (Kind == Disk && Away) {
      std::filesystem::remove("runs");
      std::filesystem::rename("away", "runs");
      RunRecorder().Retry();
    }
    Check();
  }

private:
  int Pressed = 0;
  bool Away = false;

  void Inject(const std::string &frame) {
    const int a = std::atoi(frame.c_str() + 1);
    const std::string ad = std::to_string(a);
    if (Kind == Silent) Control("mute " + ad);
    if (Kind == Garbled) Control("garble " + ad + " 1");
    if (Kind == Emergency) Control("estop " + ad + " press");
    if (Kind == Stop) Pressed = 1;
    if (Kind == Disk) {
      std::filesystem::rename("runs", "away");
      std::ofstream("runs") << "a file where the folder was";
      Away = true;
    }
    const size_t wa = frame.find(" WA=");
    if (Kind == Short && wa != std::string::npos && a >= 1 && a <= 3) {
      NextClusterLength();  // the axis's motion up to now
      const double from = Ctl(a).Position, to = std::atof(frame.c_str() + wa + 4), mid = (from + to) / 2;
      if (std::fabs(to - from) > 2)
        Control("softlimits " + ad + (to > from ? " 0 " + std::to_string(mid) : " " + std::to_string(mid) + " 600"));
    }
  }

  // The hull of the positions axis `a` stood at or moved between in [from, to] (ms of the clock).
  std::pair<double, double> Hull(int a, double from, double to) const {
    const std::vector<TMotionAt> &j = Journal.at(a);
    size_t i0 = 0;
    for (size_t i = 0; i < j.size() && j[i].At <= from; ++i)
      if (j[i].Stands) i0 = i;
    double lo = j[i0].Mm, hi = lo;
    for (size_t i = i0; i < j.size() && j[i].At <= to; ++i) lo = std::min(lo, j[i].Mm), hi = std::max(hi, j[i].Mm);
    return {lo / 10, hi / 10};
  }
  bool StandsAt(int a, double t, double cm) const {
    const TMotionAt *last = nullptr;
    for (const TMotionAt &m : Journal.at(a))  // a move begun in the same ms came after the row
      if (m.At < t || (m.At == t && m.Stands)) last = &m;
    return last && last->Stands && std::fabs(last->Mm / 10 - cm) <= 0.05;
  }
  void Read(const TRecordRow &r, int a, int64_t ms, double cm) {
    if (std::isnan(cm) || ms < 0) return;
    const double t = double(RunRecorder().StartTick()) + double(ms);
    const auto h = Hull(a, t - 1100, t);
    if (cm < h.first - 0.05 || cm > h.second + 0.05)
      Broken.push_back(r.Process + " dip " + std::to_string(r.Dip) + ": axis " + std::to_string(a) + " read " +
                       std::to_string(cm) + " cm at " + std::to_string(ms) + " ms, never near there");
  }
  void Reached(const TRecordRow &r, int a, int64_t ms, double cm) {
    if (ms < 0 || !StandsAt(a, double(RunRecorder().StartTick()) + double(ms), cm))
      Broken.push_back(r.Mode + " " + r.Process + " " + r.Position + " dip " + std::to_string(r.Dip) +
                       ": done, but axis " + std::to_string(a) + " did not stand at " + std::to_string(cm) +
                       " cm at " + std::to_string(ms) + " ms");
  }

  void Check() {
    std::vector<TRecordRow> rows;
    std::string error;
    if (!ReadRunRecord(RunRecorder().Path(), rows, error)) return Broken.push_back("record: " + error);
    if (rows.size() != RunRecorder().Rows().size()) Broken.push_back("rows missing on disk");
    std::string firstFault;
    size_t dips = 0, fast = 0;
    for (const TRecordRow &r : rows) {
      for (const TReading &z : r.ZReads) Read(r, 3, z.first, z.second);
      Read(r, 3, r.BottomAt, r.BottomRead);
      Read(r, 3, r.TopAt, r.TopRead);
      if (r.Mode == RecordEnd) continue;
      if (r.BottomAt >= 0 && r.UpAt < 0 && r.HeldBottom < 0)  // left in the bath
        Broken.push_back(r.Process + " dip " + std::to_string(r.Dip) + ": no time held at the bottom");
      if (r.End != EndDone) {
        if (*FaultEnd[Kind] && !std::strstr(FaultEnd[Kind], ("|" + r.End + "|").c_str()))
          Broken.push_back(r.Mode + " " + r.Process + " dip " + std::to_string(r.Dip) + " says " + r.End);
        if (firstFault.empty()) firstFault = r.End;
        continue;
      }
      dips += r.Mode == RecordStepByStep, fast += r.Mode == RecordFast;
      if (r.Mode == RecordStepByStep) Reached(r, 3, r.BottomAt, r.Bottom), Reached(r, 3, r.TopAt, r.Top);
      if (r.Mode == RecordFast) Reached(r, 3, r.TopAt, r.Top);
      if (r.Mode == RecordTravel) Reached(r, 1, r.TopAt, r.X), Reached(r, 2, r.TopAt, r.Y), Reached(r, 3, r.TopAt, r.Top);
    }
    const std::string end = rows.empty() ? "" : rows.back().End;
    const bool stopped = Pressed == 2, whole = firstFault.empty() && dips == 2 && fast == 1 && !stopped;
    if (rows.empty() || rows.back().Mode != RecordEnd) Broken.push_back("no end row");
    else if (whole ? end != EndDone
                   : end != firstFault && end != EndError && !(stopped && end == EndStopped))
      Broken.push_back("end row says " + end + ", first fault " + firstFault);
  }
};

class RecordTruth : public TTempDirTest {
protected:
  void TearDown() override {
    TTempDirTest::TearDown();
    SetOpState(Idle);
  }
  // One run of the reference task: travel, the move to the top below the
  // safe height, two step-by-step dips switching channel 2, fast dips, home.
  void Run(TTruthRun &run) {
    std::filesystem::remove_all("runs");  // a file name per second: runs would share one
    THostFixture h;
    ResetMachineDefaults();
    ResetDefinitions();
    StopLatch() = TStopLatch();
    DigOutCount = 4;
    DigOutTable[2].Address = 3, DigOutTable[2].Pin = 4;
    MachineSettings.HomeX = 7.5, MachineSettings.HomeY = 5.5, MachineSettings.HomeZ = 4.5;
    AppendPosition({"Rinse", 7.5, 6});
    AppendPosition({"Coat", 8, 6});
    AppendProcess({"Dip", 2, 2, 2, 5.5, 6.5, 0.1, 0.1, 2, 1, 2});
    AppendProcess({"Fast", 1, 8, 8, 5.5, 6, 0, 0.1, 0, 0, 2});
    AppendTask({"T", "Dip + Fast"});
    CurTask = TaskCount;
    run.Go(h);
  }
};

TEST_F(RecordTruth, EveryFaultAtEveryExchange) {
  TTruthRun clean;
  Run(clean);
  ASSERT_TRUE(clean.Broken.empty()) << clean.Broken[0];
  const size_t exchanges = clean.Sent.size();
  ASSERT_GT(exchanges, 100u);
  size_t runs = 0;
  for (int kind = 0; kind < Faults; ++kind)
    for (size_t k = 1; k <= exchanges; ++k, ++runs) {
      TTruthRun run;
      run.At = k, run.Kind = TFault(kind);
      Run(run);
      ASSERT_TRUE(run.Broken.empty()) << FaultName[kind] << " at exchange " << k << " (" << clean.Sent[k - 1]
                                      << "): " << run.Broken[0];
    }
  std::printf("%zu exchanges, %d faults: %zu runs held against the controllers' journal\n", exchanges,
              int(Faults), runs);
}

}  // namespace
