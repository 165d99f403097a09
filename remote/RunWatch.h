#pragma once
// The remote page's picture of the machine: what the run events told (task,
// process, dip k of n, an open question, the Z over time of the run) plus
// what is read when asked (operation state, axes, estimate, connection).
#include <QJsonArray>
#include <QJsonObject>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tasks/RunEvents.h"

// The version of the JSON of /api/status and of the events (docs/remote.md);
// it grows when a field changes meaning or goes, not when one is added.
constexpr int RemoteSchemaVersion = 1;

// One event as the WebSocket sends it: {"event":"dip_started", ...}.
QJsonObject RunEventJson(const TRunEvent &event, int64_t wallMs);
// "idle", "moving", "referencing", "running", "stopping" or "question".
std::string RemoteStateName(bool questionOpen);

class TRunWatch {
public:
  static constexpr size_t KeptLines = 50;
  static constexpr size_t MaxTrace = 2000;

  TRunWatch();
  ~TRunWatch();
  TRunWatch(const TRunWatch &) = delete;
  TRunWatch &operator=(const TRunWatch &) = delete;

  // Whether the machine is connected (the window knows); false when unset.
  std::function<bool()> Connected;
  // Told of every event after the picture took it in.
  std::function<void(const TRunEvent &)> Followers;

  void NoteLine(const std::string &line);
  // Adds the present Z to the run's trace while a run goes; when the trace
  // is full every other point goes and the step between samples doubles.
  void SampleZ();
  bool Running() const { return Run; }

  QJsonObject Status() const;  // the /api/status document
  QJsonArray Trace() const;    // [[s, cm], ...] of the present or last run
  QJsonArray Lines() const;    // the last report lines, oldest first

private:
  void Take(const TRunEvent &e);
  int ListenerId = 0;
  bool Run = false;
  std::string Task, Process, Question, LastEnd;
  int Dip = 0, Dips = 0;
  uint32_t StartTick = 0, EndTick = 0;
  std::vector<std::pair<double, double>> Z;
  unsigned SampleStep = 1, SampleCount = 0;
  std::deque<std::string> Kept;
};
