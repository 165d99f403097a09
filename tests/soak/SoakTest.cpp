// Soak run: task runs of many dips over the real serial port against
// build/veri-sim while the simulator injects every kind of fault. Every run
// must end with its end line, the log must account for everything the
// controllers were sent, the controls must be usable afterwards and the
// resident memory must stay flat.
//
// KV_SOAK_SECONDS sets the length of the fault phase (default 40 s); the
// long form (ctest label soak-long, KV_SOAK_FORM=long) runs
// KV_SOAK_LONG_SECONDS (default 1800 s). KV_SOAK_SEED repeats a fault order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <utility>
#include <unistd.h>

#include "base/Machine.h"
#include "base/OpState.h"
#include "recipes/Definitions.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"
#include "support/SimLine.h"
#include "tasks/TaskRun.h"
#include "veri/Connection.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
using V = std::vector<std::string>;

double EnvNumber(const char *name, double fallback) {
  const char *v = std::getenv(name);
  char *end = nullptr;
  const double d = v ? std::strtod(v, &end) : 0;
  return v && *v && *end == 0 && d > 0 ? d : fallback;
}

long ResidentKb() {
  std::ifstream f("/proc/self/statm");
  long size = 0, resident = 0;
  f >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A hang must fail, not stall: the watchdog ends the test program. The
// simulator goes first, it holds this program's output open.
TSimProcess *Watched = nullptr;
[[noreturn]] void Hung(const char *what) {
  if (write(2, what, std::strlen(what)) < 0) {}
  Watched->Stop();
  _exit(3);
}

// One run's log and the frames the simulator received meanwhile ("#a command").
struct TRunRecord {
  TFakeReport Report;
  V Frames;
  int Count(const std::string &head) const {
    return int(std::count_if(Report.Lines.begin(), Report.Lines.end(),
                             [&](const std::string &l) { return l.rfind(head, 0) == 0; }));
  }
  int Containing(const std::string &part) const {
    return int(std::count_if(Report.Lines.begin(), Report.Lines.end(),
                             [&](const std::string &l) { return l.find(part) != std::string::npos; }));
  }
  // Move commands to the axis with the target (mm, four decimals), any speed.
  int MovesTo(int axis, const std::string &target) const {
    const std::regex move("#" + std::to_string(axis) + " V=.* WA=" + target + " E");
    return int(
        std::count_if(Frames.begin(), Frames.end(), [&](auto &f) { return std::regex_match(f, move); }));
  }
};

// The fixture is also the operator at the machine: it answers every box as
// a careful operator would and puts right what the box asks for (releases
// the emergency stop, moves an axis off its limit switch, restarts
// electronics that report an error). From the event pump of a run it
// injects the faults, one every few seconds, every kind once per round in
// shuffled order.
class Soak : public ::testing::Test, public IOperator {
protected:
  static constexpr int KindCount = 14;
  THostFixture Host;
  TSimLine Line;
  TSimProcess &Sim = Line.Sim;
  std::mt19937 Rng;
  size_t FramesRead = 0;
  int Runs = 0;
  V Unknown;  // boxes the operator did not expect
  int RetriesThisRun = 0, ConnectRetries = 0, EmergencyBoxes = 0;
  int MoveRepeats = 0;  // this run's
  std::set<int> KindsSeen;
  // Status bits set in the controllers so far; the simulator sets a few of
  // its own (software limit, refused parameter, limit switch).
  std::set<int> WarningBits = {1, 16}, ErrorBits = {8192};
  // The soak ends at Deadline once every kind of fault has been met, and at
  // Latest whatever happened.
  Clock::time_point Deadline, Latest, RunStart, Next, StoppedAt;  // StoppedAt: this run's last STOP
  std::vector<int> Deck;
  std::multimap<Clock::time_point, std::string> Pending;

  void SetUp() override {
    // The program's own port on the simulator's pty, in real time (the
    // controllers live outside).
    ASSERT_TRUE(Line.Open());
    Watched = &Sim;
    // No event pump for 90 s: the program hangs.
    std::signal(SIGALRM, [](int) { Hung("soak: no progress for 90 s, the program hangs.\n"); });
    alarm(90);
    const auto seed = unsigned(EnvNumber("KV_SOAK_SEED", double(std::random_device{}() % 100000 + 1)));
    std::printf("soak: seed %u (KV_SOAK_SEED repeats the fault order)\n", seed);
    Rng.seed(seed);
    ::Host().Operator = this;
    Line.PrepareDipMachine();  // positions Rinse and Coat, then these
    // X positions differ from each other and from home, so each process's
    // travel shows in the frames. Process fields: name, position, in and out
    // speed, upper and low position, in and out time, channel, mode, dips.
    AppendPosition({"Dry", 4, 1});
    AppendPosition({"Wash", 5, 1});
    AppendProcess({"A", 1, 1, 2, 1.5, 2.5, 0.1, 0.1, 2, 3, 2});
    AppendProcess({"F", 2, 1, 2, 1.5, 3.0, 0, 0.1, 0, 0, 6});
    AppendProcess({"B", 3, 1, 2, 1.5, 3.5, 0.2, 0.1, 2, 1, 1});
    AppendProcess({"S", 4, 1, 2, 1.5, 2.2, 0.1, 0.1, 2, 1, 1});  // the short run afterwards
    for (const char *line : {"(A + F + B)*20", "(F + B + A)*20", "(B + A + F)*20"})
      AppendTask({"Soak", line});
    AppendTask({"Short", "S"});
  }
  void TearDown() override {
    alarm(0);
    SetOpState(Idle);
    Host.Events.OnPump = nullptr;
    // The port closes after this; its boxes must not reach this operator.
    ::Host().Operator = &Host.Operator;
  }

  unsigned Ask(TMsgKind, const std::string &text, unsigned buttons, unsigned, unsigned) override {
    auto has = [&](const char *part) { return text.find(part) != std::string::npos; };
    if (has("EMERGENCY STOP")) {
      // Mostly released before answering; a button still pressed gets the
      // same box again, and is released by then at the latest.
      if (++EmergencyBoxes >= 2 || Chance(0.7)) {
        Sim.Control("estop all release");
        EmergencyBoxes = 0;
      }
      const unsigned answer = Pick(buttons, Chance(0.5) ? mbAbort : mbYes);
      // Abort at a move's box repeats the move: a stroke more than dip lines.
      if (answer == mbAbort && has("release button first")) ++MoveRepeats;
      return answer;
    }
    if (has("*** STOP ***")) {
      const bool retry = RetriesThisRun < 2 && Chance(0.3);
      RetriesThisRun += retry;
      return Pick(buttons, retry ? mbRetry : mbAbort);
    }
    if (has("Hardware limit switch open")) Sim.Control("limit all close");
    else if (has("*** ERROR VERI")) Sim.Control("set all 11 0");  // started again: the register is clear
    else if (has("STOP switch is activated")) Sim.Control("estop all release");
    else if (has("No connection to VERI hardware"))
      return Pick(buttons, ConnectRetries++ < 2 ? mbRetry : mbIgnore);
    else if (has("Switch ON now")) return Pick(buttons, mbYes);
    else if (has("reference position")) return Pick(buttons, mbNo);
    else if (!has("You continue without confirmation")) Unknown.push_back(text);
    return Pick(buttons, mbOK);
  }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(Rng) < p; }
  static unsigned Pick(unsigned buttons, unsigned wanted) {
    if (buttons & wanted) return wanted;
    for (unsigned b = 1; b <= mbIgnore; b <<= 1)
      if (buttons & b) return b;
    return mbOK;
  }
  int Random(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(Rng); }
  Clock::duration Gap() { return Ms(Random(700, 2000)); }
  bool Over(Clock::time_point now) const {
    return (now > Deadline && KindsSeen.size() == size_t(KindCount)) || now > Latest;
  }

  void Pump() {
    alarm(90);
    const Clock::time_point now = Clock::now();
    if (now - RunStart > std::chrono::seconds(240)) {
      std::fprintf(stderr, "%s", Host.Report.Joined().c_str());
      Hung("soak: a run did not end within 240 s although STOP was pressed again and again.\n");
    }
    for (auto it = Pending.begin(); it != Pending.end() && it->first <= now; it = Pending.erase(it))
      Sim.Control(it->second);
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
    KindsSeen.insert(Deck.back());
    Inject(Deck.back(), now);
    Deck.pop_back();
  }
  void Inject(int kind, Clock::time_point now) {
    const std::string a = std::to_string(Random(1, 3)), n = std::to_string(Random(1, 3));
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
        Pending.emplace(now + Ms(Random(800, 3000)), "unmute " + a);
        break;
      case 8:  // released by the operator at the box, or after a while if none came
        Sim.Control("estop " + a + " press");
        Pending.emplace(now + Ms(5000), "estop " + a + " release");
        break;
      case 9: {
        const int bit = 1 << Random(0, 7);
        WarningBits.insert(bit);
        Sim.Control("warn " + a + " " + std::to_string(bit));
        break;
      }
      case 10: {
        const int bits[] = {2, 32, 128, 512, 2048}, bit = bits[Random(0, 4)];
        ErrorBits.insert(bit);
        Sim.Control("error " + a + " " + std::to_string(bit));
        break;
      }
      case 11:
        Sim.Control("limit " + a + " open");
        Pending.emplace(now + Ms(5000), "limit " + a + " close");
        break;
      case 12:  // operator STOP
        StoppedAt = now;
        TaskStop();
        break;
      default:  // slow line
        Sim.Control("latency default 150");
        Pending.emplace(now + Ms(3000), "latency reset");
        break;
    }
  }
  // Everything back to a sound machine between runs; no faults meanwhile.
  void Heal() {
    Host.Events.OnPump = [] { alarm(90); };
    Pending.clear();
    for (const char *c :
         {"clear all", "estop all release", "limit all close", "set all 11 0", "latency reset"})
      Sim.Control(c);
  }

  V NewFrames() {
    const V all = Sim.Frames();
    const V out(all.begin() + std::min(FramesRead, all.size()), all.end());
    FramesRead = all.size();
    return out;
  }
  TRunRecord RunTask(uint8_t task) {
    CurTask = task;
    RetriesThisRun = MoveRepeats = 0;
    RunStart = Clock::now();
    Next = RunStart + Gap();
    StoppedAt = Clock::time_point();
    Host.Report.Lines.clear();
    NewFrames();
    TaskStart();
    ++Runs;
    return {std::exchange(Host.Report, TFakeReport()), NewFrames()};
  }

  // What one run must show whatever the faults did.
  void CheckRun(const TRunRecord &r) {
    const std::string log = r.Report.Joined();
    ASSERT_FALSE(r.Report.Lines.empty());
    EXPECT_EQ(r.Report.Lines.back(), "-- End Task ---.") << log;
    EXPECT_EQ(r.Count("--- Start Task  ---"), 1) << log;
    EXPECT_EQ(r.Count("-- End Task ---."), 1) << log;
    EXPECT_EQ(OpState(), Idle) << log;
    EXPECT_FALSE(Axes[3].Moving);
    // Every process whose travel the controllers saw stands in the log, and
    // every Z stroke a controller was sent has its trace line.
    const struct {
      const char *Name, *X, *XTrace, *Low, *LowTrace;
    } procs[] = {{"A", "20.0000", "2", "25.0000", "2.5"},
                 {"F", "30.0000", "3", nullptr, nullptr},
                 {"B", "40.0000", "4", "35.0000", "3.5"},
                 {"S", "50.0000", "5", "22.0000", "2.2"}};
    for (const auto &p : procs) {
      const int heads = r.Containing(std::string(", Process: ") + p.Name + ")*(n= ");
      const int travels = r.MovesTo(1, p.X);
      EXPECT_TRUE(travels == 0 || heads >= 1) << p.Name << "\n" << log;
      EXPECT_LE(travels, r.Count(std::string("$ Move [1]  to: ") + p.XTrace + ";")) << log;
      if (!p.Low) continue;
      const int sent = r.MovesTo(3, p.Low);
      EXPECT_EQ(sent, r.Count(std::string("$ Move [3]  to: ") + p.LowTrace + ";")) << p.Name << "\n" << log;
      EXPECT_TRUE(sent == 0 || heads >= 1) << p.Name << "\n" << log;
      EXPECT_LE(sent, r.Count("  Fast Dip ") + MoveRepeats) << log;
    }
    // Warnings and errors are decoded from what the controllers hold, never
    // from stray digits of another reply.
    for (const std::string &l : r.Report.Lines) {
      int bit = 0;
      if (std::sscanf(l.c_str(), "WARNING VERI [%d]", &bit) == 1) {
        EXPECT_EQ(WarningBits.count(bit), 1u) << l;
      }
      if (std::sscanf(l.c_str(), "*** ERROR VERI [%d]", &bit) == 1) {
        EXPECT_EQ(ErrorBits.count(bit), 1u) << l;
      }
    }
    // The fast-dip program's registers and start: each sent is logged.
    const int r1 = int(std::count(r.Frames.begin(), r.Frames.end(), "#3 R1 = 30.0000"));
    EXPECT_EQ(r1, r.Count("$ VERI Call: #3 R1 = 30.0000")) << log;
    EXPECT_TRUE(r1 == 0 || r.Containing(", Process: F)*(n= ") >= 1) << log;
    EXPECT_EQ(std::count(r.Frames.begin(), r.Frames.end(), "#3 RUN"), r.Count("$ Response to RUN command: "))
        << log;
  }
};

TEST_F(Soak, TaskRunsUnderFaults) {
  const char *form = std::getenv("KV_SOAK_FORM");
  const bool longForm = form && std::string(form) == "long";
  const double seconds =
      longForm ? EnvNumber("KV_SOAK_LONG_SECONDS", 1800) : EnvNumber("KV_SOAK_SECONDS", 40);
  const long rssStart = ResidentKb();
  const Clock::time_point start = Clock::now();
  Deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  Latest = Deadline + (Deadline - start);
  // Each run starts with another process, so all of them meet faults.
  for (uint8_t task = 1; !Over(Clock::now()) && !HasFailure(); task = task % 3 + 1) {
    Host.Events.OnPump = [this] { Pump(); };
    const TRunRecord r = RunTask(task);
    CheckRun(r);  // the first failing run tells the story
    Heal();
    // After errors that switched the motors off the operator connects again.
    if (r.Count("*** ERROR VERI") || r.Count("*** Move [") || r.Count("*** Fast Dips")) {
      ConnectRetries = 0;
      VERICheckConnection();
    }
  }

  // Afterwards the controls are usable: idle, and a short run goes through
  // cleanly.
  Sim.Control("set all 12 0");
  VERIGetPosition(255);  // a misread position must not make a move look done
  ASSERT_EQ(OpState(), Idle);
  const TRunRecord last = RunTask(4);
  CheckRun(last);
  SCOPED_TRACE(last.Report.Joined());
  EXPECT_EQ(last.Containing(", Process: S)*(n= "), 1);
  EXPECT_EQ(last.Count("  Fast Dips done. "), 1);
  EXPECT_EQ(last.MovesTo(3, "22.0000"), 1);
  EXPECT_EQ(last.MovesTo(1, "50.0000"), 1);
  EXPECT_EQ(last.Count("***"), 0);
  EXPECT_EQ(last.Count("WARNING VERI"), 0);
  const long rssEnd = ResidentKb();

  std::printf("soak: %d runs, resident memory %ld kB at start, %ld kB at end\n", Runs, rssStart, rssEnd);
  EXPECT_EQ(Unknown, V{});
  EXPECT_GE(Runs, 2);
  // Flat memory: a generous bound, the machine is shared.
  EXPECT_LT(rssEnd - rssStart, 32 * 1024);
  // Every kind of fault was met at least once.
  EXPECT_EQ(KindsSeen.size(), size_t(KindCount));
}

}  // namespace
