#include "tasks/Estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/Host.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "tasks/Process.h"
#include "machine/Motion.h"
#include "tasks/DipCycle.h"
#include "tasks/TaskLanguage.h"
#include "veri/Transport.h"

namespace {

constexpr double PollPause = 0.005;  // the pause of every poll cycle, s
constexpr double CallPause = 0.030;  // a command sent without an answer, s

// A move's wait loop polls in cycles of `cycle` s until a poll sees the axis
// stand. The first poll is read two exchanges after the command, so the
// motion has that long a start; the end falls in the middle of a cycle on
// average, and at least one cycle runs.
double PollLoop(double motion, double cycle, double start) {
  return cycle * std::fmax(1.0, 1.5 + (motion - start) / cycle);
}

// The cycles of `cycle` s a watch runs before the one whose state sample
// first finds the motion of `motion` s over, when the first sample is taken
// `first` s after the motion began: the run's polls come at fixed times.
double CyclesBefore(double motion, double first, double cycle) {
  return std::fmax(0.0, std::ceil((motion - first) / cycle));
}

// Walks the terms as the run's moves leave the axes, from where they are.
class TWalk {
public:
  explicit TWalk(const TExchangeTimes &t)
      : R(t.ReadMs / 1000.0), Wr(t.WriteMs / 1000.0), C(t.CallMs / 1000.0) {
    for (int a = 1; a <= 3; ++a) At[a] = Axes[a].Position;
  }

  TTaskEstimate Result;

  // A move as the motion layer makes it: none below 5/1000 cm or at no speed.
  double Move(int axis, double speed, double target) {
    if (!(speed > 0)) return 0;
    speed = DrivenSpeed(axis, speed);
    const double d = std::fabs(target - At[axis]);
    if (d <= MoveDeadBand) return 0;
    At[axis] = target;
    return MoveSeconds(d, speed, R * 1000.0, Wr * 1000.0, Axes[axis].Acceleration);
  }

  void Term(const std::string &name, uint16_t &error) {
    uint16_t tests = 0;
    const uint8_t p = TestProcess(name, tests);
    const bool usable = p != 0;
    // The run stops at a faulty term too; what the check says of it is its own.
    if (!usable || Result.Terms.size() >= EstimateMaxTerms) {
      Result.Capped = usable;
      SetFlag(error, ProcErrUnknownName, true);
      return;
    }
    const TProcEntry &e = ProcTable[p];
    const TPosEntry &pos = PosTable[e.PosNo];
    const double v = MachineSettings.StandardV;
    double t = Legs(TravelLegs(pos.X, pos.Y), v);
    t += Move(3, v, e.UpperPos);
    t += e.InTime > 0.0 ? StepByStep(e) : FastDips(e);
    Result.Terms.push_back(t);
  }

  void Home() {
    const double v = Result.Terms.empty() ? CurrentSpeed : MachineSettings.StandardV;
    Result.Home = Legs(HomeLegs(), v);
  }

private:
  double R, Wr, C;  // one read, write, call, s
  double At[4] = {};

  static double Wait(double seconds) { return (std::max(WaitTenths(seconds), 0) + 1) * 0.1; }

  double Legs(const std::vector<TLeg> &legs, double speed) {
    double t = 0;
    for (const TLeg &l : legs) t += Move(l.Axis, speed, l.Target);
    return t;
  }

  // The dip cycle timed step by step: a write per output step when the
  // channel is wired, the strokes, the waits.
  class TTimer : public IDipVisitor {
  public:
    TTimer(TWalk &walk, const TProcEntry &e) : W(walk), E(e) {}
    double T = 0;
    void DipBegins(int32_t) override {}
    void Output(int32_t) override {
      const bool wired = E.ChNo >= 1 && E.ChNo <= DigOutMax && DigOutTable[E.ChNo].Address != 0;
      if (wired) T += W.Wr;
    }
    bool Stroke(TStroke, double speed, double target) override {
      T += W.Move(3, speed, target);
      return true;
    }
    bool Wait(TDipWait, double seconds) override {
      T += TWalk::Wait(seconds);
      return true;
    }
    void DipEnds(int32_t, bool) override {}

  private:
    TWalk &W;
    const TProcEntry &E;
  };

  double StepByStep(const TProcEntry &e) {
    TTimer timer(*this, e);
    WalkDips(e, true, timer);
    return timer.T;
  }

  // Registers sent unanswered, "RUN", the watch (position, "P0?", dips to
  // do; the status poll once the program has ended), the input and the
  // position reads. The program strokes at the recipe's speeds, unclamped.
  double FastDips(const TProcEntry &e) {
    const double stroke = std::fabs(e.LowPos - e.UpperPos);
    const double a = Axes[3].Acceleration;
    const double motion =
        std::max(e.NoTunks, 0) * (MotionSeconds(stroke, e.InSpeed, a) + MotionSeconds(stroke, e.OutSpeed, a));
    At[3] = e.UpperPos;
    // The calls' echoes open the cluster that RUN's echo closes: RUN is
    // answered a write exchange after the first call (at once when the
    // calls took longer). The motion starts with RUN. Each watch cycle's
    // "P0?" (its second read) tells whether the program still runs; the
    // cycle that finds it ended polls the status too.
    const double run = std::fmax(0.0, Wr - 6 * C), cycle = 3 * R + PollPause;
    const double watch = CyclesBefore(motion, run + R, cycle) * cycle + cycle + R;
    const double t = 6 * C + run + watch + 2 * R;
    return t + (e.OutTime > 0.0 ? Wait(e.OutTime) : 0);
  }
};

std::string Hms(double seconds, const char *format) {
  const long s = seconds > 0 && std::isfinite(seconds) ? std::lround(seconds) : 0;
  char b[64];
  std::snprintf(b, sizeof b, format, s / 3600, s / 60 % 60, s % 60);
  return b;
}

double Elapsed(uint32_t since) { return static_cast<uint32_t>(GetTickCount() - since) / 1000.0; }

}  // namespace

double TTaskEstimate::Total() const {
  double t = Home;
  for (double s : Terms) t += s;
  return t;
}

double MotionSeconds(double distance, double speed, double a) {
  if (!(distance > 0) || !(speed > 0)) return 0;
  if (!(a > 0)) a = EstimateAcceleration;
  // Too short to reach the speed: a triangle of accelerating and braking.
  if (distance < speed * speed / a) return 2.0 * std::sqrt(distance / a);
  return distance / speed + speed / a;
}

double MoveSeconds(double distance, double speed, double readMs, double writeMs, double acceleration) {
  const double r = readMs / 1000.0, w = writeMs / 1000.0;
  // The command, then cycles of position read and poll until a read shows
  // the end near; from there polls alone, so the stand is seen in the
  // middle of a poll on average; at least one read and poll; then the two
  // reads of the inputs and the final position read.
  const double motion = MotionSeconds(distance, speed, acceleration);
  return std::fmax(w + 2 * r, w + PollLoop(motion, r, w)) + 3 * r;
}

TExchangeTimes MeasuredExchangeTimes() {
  return {VERIExchangeMs(TExchangeKind::Read), VERIExchangeMs(TExchangeKind::Write),
          VERIExchangeMs(TExchangeKind::Call)};
}

TTaskEstimate EstimateTask(const std::string &line, double exchangeMs) {
  return EstimateTask(line, TExchangeTimes{exchangeMs, exchangeMs, CallPause * 1000.0});
}

TTaskEstimate EstimateTask(const std::string &line, const TExchangeTimes &times) {
  TWalk walk(times);
  if (!line.empty())
    ParseTask(line, TaskModeCheck,
              [&walk](const std::string &name, uint8_t, uint8_t, uint16_t &error, int32_t) {
                walk.Term(name, error);
              });
  walk.Home();
  return walk.Result;
}

std::string EstimateCheckLine(const std::string &line) {
  const TTaskEstimate e = EstimateTask(line, MeasuredExchangeTimes());
  return std::string("Estimated duration: ") + (e.Capped ? "more than " : "") + DurationText(e.Total());
}

std::string DurationText(double seconds) { return Hms(seconds, "%ld h %ld min %ld s"); }
std::string HmsText(double seconds) { return Hms(seconds, "%ld:%02ld:%02ld"); }

void TRunProgress::Begin(const std::string &line) {
  *this = TRunProgress();
  Estimate = EstimateTask(line, MeasuredExchangeTimes());
  Going = true;
  Started = LastDone = GetTickCount();
}

void TRunProgress::TermDone() {
  if (!Going || Done >= Estimate.Terms.size()) return;
  DoneEstimate += Estimate.Terms[Done++];
  LastDone = GetTickCount();
}

double TRunProgress::ElapsedSeconds() const { return Going ? Elapsed(Started) : 0; }

double TRunProgress::RemainingSeconds() const {
  if (!Going) return 0;
  // The terms done tell how this line and machine compare with the model.
  const double doneTook = static_cast<uint32_t>(LastDone - Started) / 1000.0;
  const double factor = DoneEstimate > 0 ? doneTook / DoneEstimate : 1.0;
  const std::vector<double> &terms = Estimate.Terms;
  double after = Estimate.Home, current = 0;
  for (size_t i = Done; i < terms.size(); ++i) (i == Done ? current : after) += terms[i];
  // The term under way counts down, but never below nothing left of it.
  return factor * after + std::fmax(0.0, factor * current - Elapsed(LastDone));
}

std::string TRunProgress::StatusText() const {
  if (!Going) return "";
  return "Elapsed " + HmsText(Elapsed(Started)) + ", remaining about " + HmsText(RemainingSeconds());
}

std::string TRunProgress::End() {
  if (!Going) return "";
  Going = false;
  const double estimate = Estimate.Total(), took = Elapsed(Started);
  std::string line = "Estimate was " + HmsText(estimate) + ", the run took " + HmsText(took);
  if (Done < Estimate.Terms.size()) {
    line += " (ended after " + std::to_string(Done) + " of " + std::to_string(Estimate.Terms.size()) +
            " processes)";
  } else if (Estimate.Capped) {
    line += " (the estimate covers the first " + std::to_string(Done) + " processes only)";
  } else if (estimate > 0) {
    char b[32];
    std::snprintf(b, sizeof b, " (%+.1f %%)", (took - estimate) / estimate * 100.0);
    line += b;
  }
  ReportLine(line);
  return line;
}
