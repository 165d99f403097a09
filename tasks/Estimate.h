#pragma once
// How long a task takes: its line walked as a run walks it, every move from
// its distance, speed and ramps plus the controller exchanges it costs at
// the exchange time measured on this line, every wait by its 100 ms steps.
// And the progress of a run: elapsed time, and what remains, corrected by
// how long the terms done so far took against their estimate.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the model assumes of an axis without its own "Acceleration" in the
// machine description: this acceleration and deceleration (cm/s^2), a
// trapezoid speed profile, no pause between strokes.
constexpr double EstimateAcceleration = 10.0;

struct TTaskEstimate {
  std::vector<double> Terms;  // seconds of each process term, in walk order
  double Home = 0;            // the move home at the end of the run
  bool Capped = false;        // more terms than EstimateMaxTerms: a lower bound
  double Total() const;
};

// A line can repeat a term billions of times; the walk stops counting here.
constexpr size_t EstimateMaxTerms = 100000;

// Seconds of a motion of `distance` cm at `speed` cm/s, ramps of
// `acceleration` cm/s^2 included.
double MotionSeconds(double distance, double speed, double acceleration = EstimateAcceleration);
// Seconds of one move (the axis's speed limit already applied): the motion,
// its command (a write) and its reads.
double MoveSeconds(double distance, double speed, double readMs, double writeMs,
                   double acceleration = EstimateAcceleration);
inline double MoveSeconds(double distance, double speed, double exchangeMs) {
  return MoveSeconds(distance, speed, exchangeMs, exchangeMs);
}
// What one exchange of each kind costs (ms).
struct TExchangeTimes {
  double ReadMs, WriteMs, CallMs;
};
// The times measured on this line.
TExchangeTimes MeasuredExchangeTimes();
// Estimate of `line` from the axes' last read positions.
TTaskEstimate EstimateTask(const std::string &line, const TExchangeTimes &times);
// The same with every exchange `exchangeMs` long and a call its 30 ms.
TTaskEstimate EstimateTask(const std::string &line, double exchangeMs);

// "Estimated duration: 0 h 12 min 34 s" of `line` at the measured exchange time.
std::string EstimateCheckLine(const std::string &line);

// Whole seconds, rounded: "0 h 12 min 34 s" and "0:12:34".
std::string DurationText(double seconds);
std::string HmsText(double seconds);

// Progress of a run against its estimate, on the host's clock.
class TRunProgress {
public:
  void Begin(const std::string &line);  // the run starts
  void TermDone();                      // a process term of it ended
  // Writes the line telling how far the estimate was off and returns it
  // ("" when no run was going); the run is over.
  std::string End();
  bool Running() const { return Going; }
  double ElapsedSeconds() const;
  double RemainingSeconds() const;
  // "Elapsed 0:01:23, remaining about 0:10:45"; empty while no run goes.
  std::string StatusText() const;

private:
  bool Going = false;
  TTaskEstimate Estimate;
  uint32_t Started = 0;
  uint32_t LastDone = 0;  // when the last term ended
  size_t Done = 0;
  double DoneEstimate = 0;  // estimate of the terms done
};

// The progress of the run under way (none: "" and 0).
std::string EstimateStatusText();
double EstimateRemainingSeconds();
