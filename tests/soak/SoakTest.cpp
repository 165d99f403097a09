// Soak run: task runs of many dips over the real serial port against
// build/veri-sim while the simulator injects every kind of fault. Every run
// must end with its end line, the log must account for everything the
// controllers were sent, the controls must be usable afterwards and the
// resident memory must stay flat.
//
// KV_SOAK_SECONDS sets the length of the fault phase (default 40 s); the
// long form (ctest label soak-long, KV_SOAK_FORM=long) runs
// KV_SOAK_LONG_SECONDS (default 1800 s). KV_SOAK_SEED repeats a fault order,
// KV_SOAK_VERBOSE=1 prints every run's log.
#include <gtest/gtest.h>

#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "soak/SoakRig.h"
#include "support/Fakes.h"
#include "tasks/Process.h"
#include "veri/Connection.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

using namespace soak;

class Soak : public ::testing::Test {
protected:
  THostFixture Host;
  TSimLine Line;
  TSimProcess &Sim = Line.Sim;
  TSoakReport Report;
  std::mt19937 Rng;
  std::unique_ptr<TSoakOperator> Operator;
  std::unique_ptr<TFaultInjector> Faults;
  size_t SimLinesRead = 0;
  int Runs = 0;

  void SetUp() override {
    ASSERT_TRUE(Line.Open());
    const unsigned seed = static_cast<unsigned>(EnvNumber("KV_SOAK_SEED", double(std::random_device{}() % 100000 + 1)));
    std::printf("soak: seed %u (KV_SOAK_SEED repeats the fault order)\n", seed);
    Rng.seed(seed);
    Operator = std::make_unique<TSoakOperator>(Sim, Rng);
    Faults = std::make_unique<TFaultInjector>(Sim, Rng);
    ::Host().Report = &Report;
    ::Host().Operator = Operator.get();
    Line.PrepareDipMachine();
    // X positions differ from each other and from home, so each process's
    // travel shows in the frames.
    AppendPosition({"Dry", 4, 1});
    AppendPosition({"Wash", 5, 1});
    AppendProcess(Proc("A", 1, 2.5, 0.1, 2, 2, 3));
    AppendProcess(Proc("F", 2, 3.0, 0, 6, 0, 0));
    AppendProcess(Proc("B", 3, 3.5, 0.2, 1, 2, 1));
    AppendProcess(Proc("S", 4, 2.2, 0.1, 1, 2, 1));  // the short run afterwards
    AppendTask({"SoakA", "(A + F + B)*20"});
    AppendTask({"SoakF", "(F + B + A)*20"});
    AppendTask({"SoakB", "(B + A + F)*20"});
    AppendTask({"Short", "S"});
    Report.Take();
  }
  void TearDown() override {
    SetOpState(Idle);
    Host.Events.OnPump = nullptr;
    // The port closes after this; its lines must not reach a report or an
    // operator that is already gone.
    ::Host().Report = &Host.Report;
    ::Host().Operator = &Host.Operator;
  }

  static TProcEntry Proc(const std::string &name, uint8_t pos, double low, double inTime, int32_t dips,
                         int32_t ch, int32_t mode) {
    TProcEntry e;
    e.Name = name;
    e.PosNo = pos;
    e.InSpeed = 1;
    e.OutSpeed = 2;
    e.UpperPos = 1.5;
    e.LowPos = low;
    e.InTime = inTime;
    e.OutTime = 0.1;
    e.NoTunks = dips;
    e.ChNo = ch;
    e.ChMode = mode;
    return e;
  }

  // Frames the simulator logged since the last call.
  std::vector<std::string> NewFrames() {
    const std::vector<std::string> lines = Sim.LogLines();
    std::vector<std::string> frames;
    for (size_t i = SimLinesRead; i < lines.size(); ++i) {
      const std::string &l = lines[i];
      const size_t sp = l.find(' ');
      if (sp != std::string::npos && l.compare(sp + 1, 1, "#") == 0) frames.push_back(l.substr(sp + 1));
    }
    SimLinesRead = lines.size();
    return frames;
  }

  TRunRecord RunTask(uint8_t task) {
    CurTask = task;
    Operator->RetriesThisRun = Operator->MoveRepeats = 0;
    NewFrames();
    Report.RunStarted(true);
    TaskStart();
    Report.RunStarted(false);
    TRunRecord r;
    r.Report = Report.Take();
    r.Frames = NewFrames();
    ++Runs;
    return r;
  }

  // What one run must show whatever the faults did.
  void CheckRun(const TRunRecord &r) {
    const std::string log = Joined(r.Report);
    ASSERT_FALSE(r.Report.empty());
    EXPECT_EQ(r.Report.back(), "-- End Task ---.") << log;
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
      const int heads = CountContaining(r.Report, std::string(", Process: ") + p.Name + ")*(n= ");
      const int travels = r.MovesTo(1, p.X);
      if (travels > 0) {
        EXPECT_GE(heads, 1) << p.Name << "\n" << log;
      }
      EXPECT_LE(travels, r.Count(std::string("$ Move [1]  to: ") + p.XTrace + ";")) << log;
      if (p.Low) {
        const int sent = r.MovesTo(3, p.Low);
        const int traced = r.Count(std::string("$ Move [3]  to: ") + p.LowTrace + ";");
        EXPECT_EQ(sent, traced) << p.Name << "\n" << log;
        if (sent > 0) {
          EXPECT_GE(heads, 1) << p.Name << "\n" << log;
        }
        EXPECT_LE(sent, r.Count("  Fast Dip ") + Operator->MoveRepeats) << log;
      }
    }
    // Warnings and errors are decoded from what the controllers hold, never
    // from stray digits of another reply.
    for (const std::string &l : r.Report) {
      int bit = 0;
      if (std::sscanf(l.c_str(), "WARNING VERI [%d]", &bit) == 1) {
        EXPECT_EQ(Faults->WarningBits.count(bit), 1u) << l << "\n" << log;
      }
      if (std::sscanf(l.c_str(), "*** ERROR VERI [%d]", &bit) == 1) {
        EXPECT_EQ(Faults->ErrorBits.count(bit), 1u) << l << "\n" << log;
      }
    }
    // The fast-dip program's registers and start: each sent is logged.
    const int r1 = r.Frame("#3 R1 = 30.0000");
    EXPECT_EQ(r1, r.Count("$ VERI Call: #3 R1 = 30.0000")) << log;
    if (r1 > 0) {
      EXPECT_GE(CountContaining(r.Report, ", Process: F)*(n= "), 1) << log;
    }
    EXPECT_EQ(r.Frame("#3 RUN"), r.Count("$ Response to RUN command: ")) << log;
  }

  static std::string Joined(const std::vector<std::string> &lines) {
    std::string s;
    for (auto &l : lines) s += l + "\n";
    return s;
  }
  static int CountContaining(const std::vector<std::string> &lines, const std::string &part) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const std::string &l) { return l.find(part) != std::string::npos; }));
  }
  static bool AnyStarting(const std::vector<std::string> &lines, const std::string &head) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &l) { return StartsWith(l, head); });
  }

  // Between runs the operator puts the machine right and, after errors
  // that switched the motors off, connects again.
  void Recover(const TRunRecord &r) {
    auto pump = Host.Events.OnPump;
    Host.Events.OnPump = [this] { Report.Touch(); };  // no faults meanwhile
    Faults->Heal();
    if (AnyStarting(r.Report, "*** ERROR VERI") || AnyStarting(r.Report, "*** Move [") ||
        AnyStarting(r.Report, "*** Fast Dips")) {
      Operator->ConnectRetries = 0;
      VERICheckConnection();
    }
    Report.Take();
    NewFrames();
    Host.Events.OnPump = pump;
  }
};

TEST_F(Soak, TaskRunsUnderFaults) {
  const bool longForm = std::getenv("KV_SOAK_FORM") && std::string(std::getenv("KV_SOAK_FORM")) == "long";
  const double seconds = longForm ? EnvNumber("KV_SOAK_LONG_SECONDS", 1800) : EnvNumber("KV_SOAK_SECONDS", 40);
  TWatchdog watchdog(Report, Sim, std::chrono::seconds(90), std::chrono::seconds(240));

  const long rssStart = ResidentKb();
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(seconds));
  Host.Events.OnPump = [this] {
    Report.Touch();
    Faults->Pump();
  };
  // Each run starts with another process, so all of them meet faults.
  uint8_t task = 1;
  Faults->SetEnd(deadline, deadline + (deadline - start));
  while (!Faults->Over(Clock::now()) && !HasFatalFailure()) {
    Faults->StartRun();
    const TRunRecord r = RunTask(task);
    task = task % 3 + 1;
    CheckRun(r);
    Recover(r);
    if (::testing::Test::HasFailure()) break;  // the first failing run tells the story
  }

  // Afterwards the controls are usable: idle, and a short run goes through
  // cleanly.
  Host.Events.OnPump = [this] { Report.Touch(); };
  Faults->Heal();
  Sim.Control("set all 12 0");
  VERIGetPosition(255);  // a misread position must not make a move look done
  ASSERT_EQ(OpState(), Idle);
  const TRunRecord last = RunTask(4);
  CheckRun(last);
  SCOPED_TRACE(Joined(last.Report));
  EXPECT_EQ(CountContaining(last.Report, ", Process: S)*(n= "), 1);
  EXPECT_EQ(last.Count("  Fast Dips done. "), 1);
  EXPECT_EQ(last.MovesTo(3, "22.0000"), 1);
  EXPECT_EQ(last.MovesTo(1, "50.0000"), 1);
  EXPECT_FALSE(AnyStarting(last.Report, "***"));
  EXPECT_FALSE(AnyStarting(last.Report, "WARNING VERI"));
  EXPECT_EQ(OpState(), Idle);
  const long rssEnd = ResidentKb();

  std::printf("soak: %d runs, resident memory %ld kB at start, %ld kB at end\n", Runs, rssStart, rssEnd);
  EXPECT_TRUE(Operator->Unknown.empty()) << Joined(Operator->Unknown);
  EXPECT_GE(Runs, 2);
  // Flat memory: a generous bound, the machine is shared.
  EXPECT_LT(rssEnd - rssStart, 32 * 1024);
  // Every kind of fault was met at least once.
  EXPECT_EQ(Faults->KindsSeen.size(), size_t(TFaultInjector::KindCount));
}

}  // namespace
