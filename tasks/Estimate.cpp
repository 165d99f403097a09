#include "tasks/Estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/Host.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "tasks/Process.h"
#include "tasks/ProcessSteps.h"
#include "tasks/TaskLanguage.h"
#include "veri/Transport.h"

namespace {

constexpr double PollPause = 0.005;  // the pause of every poll cycle, s
constexpr double CallPause = 0.030;  // a command sent without an answer, s

// A move's wait loop polls in cycles of `cycle` s until a poll sees the axis
// stand. The first poll is read two exchanges after the command, so the
// motion has that long a start; the end falls in the middle of a cycle on
// average, and at least one cycle runs.
double PollLoop(double motion, double cycle, double exchange) {
  return cycle * std::fmax(1.0, 1.5 + (motion - 2 * exchange) / cycle);
}

// Walks the terms as the run's moves leave the axes, from where they are.
class TWalk {
public:
  explicit TWalk(double exchangeMs) : X(exchangeMs / 1000.0) {
    for (int a = 1; a <= 3; ++a) At[a] = Axes[a].Position;
  }

  TTaskEstimate Result;

  // A move as the motion layer makes it: none below 5/1000 cm or at no speed.
  double Move(int axis, double speed, double target) {
    if (!(speed > 0)) return 0;
    if (speed > Axes[axis].MaxSpeed) speed = Axes[axis].MaxSpeed;
    const double d = std::fabs(target - At[axis]);
    if (d <= 0.005) return 0;
    At[axis] = target;
    return MoveSeconds(d, speed, X * 1000.0);
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
    double t = Move(3, v, MachineSettings.StandardZ);
    if (MachineSettings.YCenterline && NMotors == 3) t += Move(2, v, YCenter);
    t += Move(1, v, pos.X);
    if (NMotors == 3) t += Move(2, v, pos.Y);
    t += Move(3, v, e.UpperPos);
    t += e.InTime > 0.0 ? StepByStep(e) : FastDips(e);
    Result.Terms.push_back(t);
  }

  void Home() {
    const double v = Result.Terms.empty() ? CurrentSpeed : MachineSettings.StandardV;
    Result.Home = Move(3, v, MachineSettings.HomeZ);
    if (NMotors == 3) Result.Home += Move(2, v, MachineSettings.HomeY);
    Result.Home += Move(1, v, MachineSettings.HomeX);
  }

private:
  double X;  // one exchange, s
  double At[4] = {};

  static double Wait(double seconds) { return (std::max(WaitTenths(seconds), 0) + 1) * 0.1; }

  // Six output writes per dip, one exchange each, when the channel is wired.
  double Outputs(const TProcEntry &e) const {
    const bool wired = e.ChNo >= 1 && e.ChNo <= DigOutMax && DigOutTable[e.ChNo].Address != 0;
    return wired ? 6 * X : 0;
  }

  double StepByStep(const TProcEntry &e) {
    double t = 0;
    for (int32_t k = 0; k < std::max(e.NoTunks, 1); ++k) {
      t += Move(3, e.InSpeed, e.LowPos) + Wait(e.InTime);
      t += Move(3, e.OutSpeed, e.UpperPos) + Wait(e.OutTime);
      t += Outputs(e);
    }
    return t;
  }

  // Registers sent unanswered, "RUN", the watch (position, "P0?", dips to
  // do; the status poll once the program has ended), the input and the
  // position reads. The program strokes at the recipe's speeds, unclamped.
  double FastDips(const TProcEntry &e) {
    const double stroke = std::fabs(e.LowPos - e.UpperPos);
    const double motion =
        std::max(e.NoTunks, 0) * (MotionSeconds(stroke, e.InSpeed) + MotionSeconds(stroke, e.OutSpeed));
    At[3] = e.UpperPos;
    const double t = 6 * CallPause + X + PollLoop(motion, 3 * X + PollPause, X) + X + 2 * X;
    return t + (e.OutTime > 0.0 ? Wait(e.OutTime) : 0);
  }
};

std::string Hms(double seconds, const char *format) {
  const long s = seconds > 0 && std::isfinite(seconds) ? std::lround(seconds) : 0;
  char b[64];
  std::snprintf(b, sizeof b, format, s / 3600, s / 60 % 60, s % 60);
  return b;
}

// The present run: each term's estimate, how many are done, and when.
struct TProgress {
  bool Running = false;
  TTaskEstimate Estimate;
  uint32_t Started = 0;
  uint32_t LastDone = 0;  // when the last term ended
  size_t Done = 0;
  double DoneEstimate = 0;  // estimate of the terms done
};
TProgress Run;

double Elapsed(uint32_t since) { return static_cast<uint32_t>(GetTickCount() - since) / 1000.0; }

}  // namespace

double TTaskEstimate::Total() const {
  double t = Home;
  for (double s : Terms) t += s;
  return t;
}

double MotionSeconds(double distance, double speed) {
  if (!(distance > 0) || !(speed > 0)) return 0;
  const double a = EstimateAcceleration;
  // Too short to reach the speed: a triangle of accelerating and braking.
  if (distance < speed * speed / a) return 2.0 * std::sqrt(distance / a);
  return distance / speed + speed / a;
}

double MoveSeconds(double distance, double speed, double exchangeMs) {
  const double x = exchangeMs / 1000.0;
  // The command, the poll cycles of position read and poll, then the two
  // reads of the inputs and the final position read.
  return x + PollLoop(MotionSeconds(distance, speed), 2 * x + PollPause, x) + 3 * x;
}

TTaskEstimate EstimateTask(const std::string &line, double exchangeMs) {
  TWalk walk(exchangeMs);
  if (!line.empty())
    ParseTask(line, TaskModeCheck,
              [&walk](const std::string &name, uint8_t, uint8_t, uint16_t &error, int32_t) {
                walk.Term(name, error);
              });
  walk.Home();
  return walk.Result;
}

std::string EstimateCheckLine(const std::string &line) {
  const TTaskEstimate e = EstimateTask(line, VERIExchangeMs());
  return std::string("Estimated duration: ") + (e.Capped ? "more than " : "") + DurationText(e.Total());
}

std::string DurationText(double seconds) { return Hms(seconds, "%ld h %ld min %ld s"); }
std::string ClockText(double seconds) { return Hms(seconds, "%ld:%02ld:%02ld"); }

void EstimateBegin(const std::string &line) {
  Run = TProgress();
  Run.Estimate = EstimateTask(line, VERIExchangeMs());
  Run.Running = true;
  Run.Started = Run.LastDone = GetTickCount();
}

void EstimateTermDone() {
  if (!Run.Running || Run.Done >= Run.Estimate.Terms.size()) return;
  Run.DoneEstimate += Run.Estimate.Terms[Run.Done++];
  Run.LastDone = GetTickCount();
}

double EstimateRemainingSeconds() {
  if (!Run.Running) return 0;
  // The terms done tell how this line and machine compare with the model.
  const double doneTook = static_cast<uint32_t>(Run.LastDone - Run.Started) / 1000.0;
  const double factor = Run.DoneEstimate > 0 ? doneTook / Run.DoneEstimate : 1.0;
  const std::vector<double> &terms = Run.Estimate.Terms;
  double after = Run.Estimate.Home, current = 0;
  for (size_t i = Run.Done; i < terms.size(); ++i) (i == Run.Done ? current : after) += terms[i];
  // The term under way counts down, but never below nothing left of it.
  return factor * after + std::fmax(0.0, factor * current - Elapsed(Run.LastDone));
}

std::string EstimateStatusText() {
  if (!Run.Running) return "";
  return "Elapsed " + ClockText(Elapsed(Run.Started)) + ", remaining about " +
         ClockText(EstimateRemainingSeconds());
}

std::string EstimateEnd() {
  if (!Run.Running) return "";
  Run.Running = false;
  const double estimate = Run.Estimate.Total(), took = Elapsed(Run.Started);
  std::string line = "Estimate was " + ClockText(estimate) + ", the run took " + ClockText(took);
  if (Run.Done < Run.Estimate.Terms.size()) {
    line += " (ended after " + std::to_string(Run.Done) + " of " + std::to_string(Run.Estimate.Terms.size()) +
            " processes)";
  } else if (Run.Estimate.Capped) {
    line += " (the estimate covers the first " + std::to_string(Run.Done) + " processes only)";
  } else if (estimate > 0) {
    char b[32];
    std::snprintf(b, sizeof b, " (%+.1f %%)", (took - estimate) / estimate * 100.0);
    line += b;
  }
  ReportLine(line);
  return line;
}
