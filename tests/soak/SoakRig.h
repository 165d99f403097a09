#pragma once
// The soak run's rig: the report log it reads, the watchdog that ends a hung
// run, the operator who answers the boxes, and the fault injector.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

#include "base/Host.h"
#include "support/SimProcess.h"
#include "tasks/TaskRun.h"

namespace soak {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double EnvNumber(const char *name, double fallback) {
  const char *v = std::getenv(name);
  if (!v || !*v) return fallback;
  char *end = nullptr;
  const double d = std::strtod(v, &end);
  return end && *end == 0 && d > 0 ? d : fallback;
}

inline long ResidentKb() {
  std::ifstream f("/proc/self/statm");
  long size = 0, resident = 0;
  f >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

inline bool StartsWith(const std::string &s, const std::string &head) { return s.compare(0, head.size(), head) == 0; }

// The report log of the run under way; the watchdog may read its tail.
class TSoakReport : public IReportSink {
public:
  void AppendLine(const std::string &line) override {
    std::lock_guard<std::mutex> lock(M);
    Lines.push_back(line);
    LastActivity = Clock::now();
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(M);
    std::vector<std::string> out;
    out.swap(Lines);
    return out;
  }
  std::string Tail(size_t n) {
    std::lock_guard<std::mutex> lock(M);
    std::string s;
    for (size_t i = Lines.size() > n ? Lines.size() - n : 0; i < Lines.size(); ++i) s += Lines[i] + "\n";
    return s;
  }
  void Touch() {
    std::lock_guard<std::mutex> lock(M);
    LastActivity = Clock::now();
  }
  Clock::time_point Activity() {
    std::lock_guard<std::mutex> lock(M);
    return LastActivity;
  }
  // Start of the run under way; none between runs.
  void RunStarted(bool started) {
    std::lock_guard<std::mutex> lock(M);
    RunStart = started ? Clock::now() : Clock::time_point();
  }
  Clock::time_point RunStartTime() {
    std::lock_guard<std::mutex> lock(M);
    return RunStart;
  }

private:
  std::mutex M;
  std::vector<std::string> Lines;
  Clock::time_point LastActivity = Clock::now();
  Clock::time_point RunStart;
};

// Ends the test program when the program under test stops making progress
// (no log line and no event pump for `limit`), or when a run goes on for
// `runLimit` although STOP is pressed again and again: a hang must fail, not
// stall.
class TWatchdog {
public:
  TWatchdog(TSoakReport &report, TSimProcess &sim, Clock::duration limit, Clock::duration runLimit)
      : Report(report), Sim(sim), Limit(limit), RunLimit(runLimit), Thread([this] { Watch(); }) {}
  ~TWatchdog() {
    {
      std::lock_guard<std::mutex> lock(M);
      Done = true;
    }
    Wake.notify_all();
    Thread.join();
  }

private:
  TSoakReport &Report;
  TSimProcess &Sim;
  Clock::duration Limit, RunLimit;
  std::mutex M;
  std::condition_variable Wake;
  bool Done = false;
  std::thread Thread;

  void Watch() {
    std::unique_lock<std::mutex> lock(M);
    while (!Wake.wait_for(lock, std::chrono::seconds(1), [this] { return Done; })) {
      const Clock::time_point now = Clock::now(), run = Report.RunStartTime();
      if (now - Report.Activity() >= Limit) {
        std::fprintf(stderr, "soak: no progress for %.0f s, the program hangs.\n", Seconds(Limit));
      } else if (run != Clock::time_point() && now - run >= RunLimit) {
        std::fprintf(stderr, "soak: a run did not end within %.0f s.\n", Seconds(RunLimit));
      } else {
        continue;
      }
      std::fprintf(stderr, "Last report lines:\n%s", Report.Tail(40).c_str());
      Sim.Stop();  // it holds this program's output open
      std::_Exit(3);
    }
  }
};

// The operator at the machine: answers every box as a careful operator would,
// and puts right what the box asks for (releases the emergency stop, moves an
// axis off its limit switch, restarts electronics that report an error).
class TSoakOperator : public IOperator {
public:
  TSoakOperator(TSimProcess &sim, std::mt19937 &rng) : Sim(sim), Rng(rng) {}
  std::vector<std::string> Unknown;
  int RetriesThisRun = 0;
  int MoveRepeats = 0;  // this run's
  int ConnectRetries = 0;

  unsigned Ask(TMsgKind, const std::string &text, unsigned buttons, unsigned, unsigned) override {
    if (Has(text, "EMERGENCY STOP")) {
      // Mostly released before answering; a button still pressed gets the
      // same box again, and is released by then at the latest.
      if (++EmergencyBoxes >= 2 || Chance(0.7)) {
        Sim.Control("estop all release");
        EmergencyBoxes = 0;
      }
      const unsigned answer = Pick(buttons, Chance(0.5) ? mbAbort : mbYes);
      // Abort at a move's box repeats the move: a stroke more than dip lines.
      if (answer == mbAbort && Has(text, "release button first")) ++MoveRepeats;
      return answer;
    }
    if (Has(text, "*** STOP ***")) {
      if (RetriesThisRun < 2 && Chance(0.3)) {
        ++RetriesThisRun;
        return Pick(buttons, mbRetry);
      }
      return Pick(buttons, mbAbort);
    }
    if (Has(text, "Hardware limit switch open")) {
      Sim.Control("limit all close");
      return Pick(buttons, mbOK);
    }
    if (Has(text, "*** ERROR VERI")) {
      // "Switch off electronics and start again": the error register starts clear.
      Sim.Control("set all 11 0");
      return Pick(buttons, mbOK);
    }
    if (Has(text, "No connection to VERI hardware")) return Pick(buttons, ConnectRetries++ < 2 ? mbRetry : mbIgnore);
    if (Has(text, "You continue without confirmation")) return Pick(buttons, mbOK);
    if (Has(text, "Switch ON now")) return Pick(buttons, mbYes);
    if (Has(text, "STOP switch is activated")) {
      Sim.Control("estop all release");
      return Pick(buttons, mbOK);
    }
    if (Has(text, "reference position")) return Pick(buttons, mbNo);
    Unknown.push_back(text);
    return Pick(buttons, mbOK);
  }

  TSimProcess &Sim;
  std::mt19937 &Rng;
  int EmergencyBoxes = 0;

  static bool Has(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(Rng) < p; }
  static unsigned Pick(unsigned buttons, unsigned wanted) {
    if (buttons & wanted) return wanted;
    for (unsigned b = 1; b <= mbIgnore; b <<= 1)
      if (buttons & b) return b;
    return mbOK;
  }
};

// Injects the faults from the event pump of a run, one every few seconds,
// every kind once per round in shuffled order.
class TFaultInjector {
public:
  TFaultInjector(TSimProcess &sim, std::mt19937 &rng) : Sim(sim), Rng(rng) {}
  std::set<int> KindsSeen;
  // Status bits set in the controllers so far; the simulator sets a few of
  // its own (software limit, refused parameter, limit switch).
  std::set<int> WarningBits = {1, 16}, ErrorBits = {8192};

  // The soak ends at `deadline` once every kind of fault has been met, and
  // at `latest` whatever happened.
  void SetEnd(Clock::time_point deadline, Clock::time_point latest) {
    Deadline = deadline;
    Latest = latest;
  }
  bool Over(Clock::time_point now) const {
    return (now > Deadline && KindsSeen.size() == size_t(KindCount)) || now > Latest;
  }
  void StartRun() {
    RunStart = Clock::now();
    Next = RunStart + Gap();
    StoppedAt = Clock::time_point();
  }
  void Pump() {
    const Clock::time_point now = Clock::now();
    for (auto it = Pending.begin(); it != Pending.end();) {
      if (it->first <= now) {
        Sim.Control(it->second);
        it = Pending.erase(it);
      } else {
        ++it;
      }
    }
    // A STOP is given time to end the run; a STOP answered with Retry in
    // the STOP dialog lets the run go on, and then faults go on too.
    const bool stopping = StoppedAt != Clock::time_point() && now - StoppedAt < std::chrono::seconds(15);
    // The operator ends a run that would outlast the soak (or is stuck in
    // a long fault-free stretch).
    if (!stopping && (Over(now) || now - RunStart > std::chrono::seconds(60))) {
      StoppedAt = now;
      TaskStop();
      return;
    }
    if (now < Next || stopping) return;
    Next = now + Gap();
    if (Deck.empty()) {
      for (int k = 0; k < KindCount; ++k) Deck.push_back(k);
      std::shuffle(Deck.begin(), Deck.end(), Rng);
    }
    const int kind = Deck.back();
    Deck.pop_back();
    KindsSeen.insert(kind);
    Inject(kind, now);
  }
  // Everything back to a sound machine between runs.
  void Heal() {
    Pending.clear();
    Sim.Control("clear all");
    Sim.Control("estop all release");
    Sim.Control("limit all close");
    Sim.Control("set all 11 0");
    Sim.Control("latency reset");
  }
  static constexpr int KindCount = 14;

private:
  TSimProcess &Sim;
  std::mt19937 &Rng;
  std::vector<int> Deck;
  std::multimap<Clock::time_point, std::string> Pending;
  Clock::time_point RunStart, Deadline, Latest, Next;
  Clock::time_point StoppedAt;  // the last STOP of this run, if any

  Clock::duration Gap() { return Ms(std::uniform_int_distribution<int>(700, 2000)(Rng)); }
  int Axis() { return std::uniform_int_distribution<int>(1, 3)(Rng); }
  int Count() { return std::uniform_int_distribution<int>(1, 3)(Rng); }
  void Later(Clock::time_point at, const std::string &line) { Pending.emplace(at, line); }

  void Inject(int kind, Clock::time_point now) {
    const std::string a = std::to_string(Axis()), n = std::to_string(Count());
    switch (kind) {
      case 0: Sim.Control("drop " + a + " " + n); break;
      case 1: Sim.Control("delay " + a + " 1300 1"); break;    // late reply, after the wait
      case 2: Sim.Control("delay " + a + " 400 " + n); break;  // late reply, within the wait
      case 3: Sim.Control("garble " + a + " " + n); break;
      case 4: Sim.Control("split " + a + " 400 " + n); break;  // two clusters
      case 5: Sim.Control("split " + a + " 40 " + n); break;   // one cluster
      case 6: Sim.Control("wrongaddr " + a + " " + (a == "1" ? "2" : "1") + " " + n); break;
      case 7:  // a muted controller that comes back
        Sim.Control("mute " + a);
        Later(now + Ms(std::uniform_int_distribution<int>(800, 3000)(Rng)), "unmute " + a);
        break;
      case 8:  // released by the operator at the box, or after a while if none came
        Sim.Control("estop " + a + " press");
        Later(now + Ms(5000), "estop " + a + " release");
        break;
      case 9: {
        const int bit = 1 << std::uniform_int_distribution<int>(0, 7)(Rng);
        WarningBits.insert(bit);
        Sim.Control("warn " + a + " " + std::to_string(bit));
        break;
      }
      case 10: {
        const int bits[] = {2, 32, 128, 512, 2048};
        const int bit = bits[std::uniform_int_distribution<int>(0, 4)(Rng)];
        ErrorBits.insert(bit);
        Sim.Control("error " + a + " " + std::to_string(bit));
        break;
      }
      case 11:
        Sim.Control("limit " + a + " open");
        Later(now + Ms(5000), "limit " + a + " close");
        break;
      case 12:  // operator STOP
        StoppedAt = now;
        TaskStop();
        break;
      default:  // slow line
        Sim.Control("latency default 150");
        Later(now + Ms(3000), "latency reset");
        break;
    }
  }
};

// Counts in one run's log and in what the simulator received meanwhile.
struct TRunRecord {
  std::vector<std::string> Report;
  std::vector<std::string> Frames;  // "#a command"
  int Count(const std::string &prefix) const {
    return static_cast<int>(std::count_if(Report.begin(), Report.end(),
                                          [&](const std::string &l) { return StartsWith(l, prefix); }));
  }
  int Frame(const std::string &frame) const {
    return static_cast<int>(std::count(Frames.begin(), Frames.end(), frame));
  }
  // Move commands to the axis with the target (mm, four decimals), any speed.
  int MovesTo(int axis, const std::string &target) const {
    const std::string head = "#" + std::to_string(axis) + " V=", tail = " WA=" + target + " E";
    return static_cast<int>(std::count_if(Frames.begin(), Frames.end(), [&](const std::string &f) {
      return StartsWith(f, head) && f.size() > tail.size() && f.compare(f.size() - tail.size(), tail.size(), tail) == 0;
    }));
  }
};

}  // namespace soak
