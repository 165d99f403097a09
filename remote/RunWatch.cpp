#include "remote/RunWatch.h"

#include <QJsonValue>
#include <QString>

#include "base/Host.h"
#include "base/Machine.h"
#include "base/OpState.h"
#include "tasks/Estimate.h"

namespace {
QString Q(const std::string &s) { return QString::fromStdString(s); }

const char *EventName(TRunEventKind k) {
  switch (k) {
    case TRunEventKind::RunStarted: return "run_started";
    case TRunEventKind::DipStarted: return "dip_started";
    case TRunEventKind::DipEnded: return "dip_ended";
    case TRunEventKind::ProcessDone: return "process_done";
    case TRunEventKind::RunEnded: return "run_ended";
    case TRunEventKind::QuestionAsked: return "question_asked";
    case TRunEventKind::QuestionAnswered: return "question_answered";
    case TRunEventKind::LineFault: return "line_fault";
  }
  return "unknown";
}
}  // namespace

QJsonObject RunEventJson(const TRunEvent &e, int64_t wallMs) {
  QJsonObject o{{"event", EventName(e.Kind)}, {"time_ms", double(wallMs)}};
  auto put = [&o](const char *key, const std::string &v) {
    if (!v.empty()) o[key] = Q(v);
  };
  put("task", e.Task);
  put("line", e.Line);
  put("process", e.Process);
  put("end", e.End);
  put("text", e.Text);
  put("answer", e.Answer);
  if (e.Kind == TRunEventKind::DipStarted || e.Kind == TRunEventKind::DipEnded) {
    o["dip"] = e.Dip;
    o["dips"] = e.Dips;
  }
  if (e.Kind == TRunEventKind::QuestionAnswered) o["seconds"] = e.Seconds;
  return o;
}

std::string RemoteStateName(bool questionOpen) {
  if (questionOpen) return "question";
  switch (OpState()) {
    case Idle: return "idle";
    case Moving: return "moving";
    case Referencing: return "referencing";
    case TaskRunning: return "running";
    case Unwinding: return "stopping";
    case Connecting: return "connecting";
  }
  return "idle";
}

TRunWatch::TRunWatch() {
  ListenerId = AddRunListener([this](const TRunEvent &e) { Take(e); });
}

TRunWatch::~TRunWatch() { RemoveRunListener(ListenerId); }

void TRunWatch::Take(const TRunEvent &e) {
  switch (e.Kind) {
    case TRunEventKind::RunStarted:
      Run = true;
      Task = e.Task;
      Process.clear();
      LastEnd.clear();
      Dip = Dips = 0;
      StartTick = GetTickCount();
      Z.clear();
      SampleStep = 1;
      SampleCount = 0;
      SampleZ();
      break;
    case TRunEventKind::DipStarted:
    case TRunEventKind::DipEnded:
      Process = e.Process;
      Dip = e.Dip;
      Dips = e.Dips;
      break;
    case TRunEventKind::ProcessDone: Process = e.Process; break;
    case TRunEventKind::RunEnded:
      SampleZ();
      Run = false;
      LastEnd = e.End;
      EndTick = GetTickCount();
      break;
    case TRunEventKind::QuestionAsked: Question = e.Text; break;
    case TRunEventKind::QuestionAnswered: Question.clear(); break;
    case TRunEventKind::LineFault: break;
  }
  if (Followers) Followers(e);
}

void TRunWatch::NoteLine(const std::string &line) {
  Kept.push_back(line);
  if (Kept.size() > KeptLines) Kept.pop_front();
}

void TRunWatch::SampleZ() {
  if (!Run || SampleCount++ % SampleStep != 0) return;
  Z.emplace_back((GetTickCount() - StartTick) / 1000.0, Axes[3].Position);
  if (Z.size() < MaxTrace) return;
  size_t kept = 0;
  for (size_t i = 0; i < Z.size(); i += 2) Z[kept++] = Z[i];
  Z.resize(kept);
  SampleStep *= 2;
}

QJsonObject TRunWatch::Status() const {
  const uint32_t upTo = Run ? GetTickCount() : EndTick;
  const bool ran = !Task.empty();
  QJsonObject o{
      {"schema", RemoteSchemaVersion},
      {"state", Q(RemoteStateName(!Question.empty()))},
      {"connected", Connected ? Connected() : false},
      {"running", Run},
      {"task", Q(Task)},
      {"process", Q(Process)},
      {"dip", Dip},
      {"dips", Dips},
      {"x", Axes[1].Position},
      {"y", Axes[2].Position},
      {"z", Axes[3].Position},
      {"elapsed_s", ran ? (upTo - StartTick) / 1000.0 : 0.0},
      {"remaining_s", Run ? EstimateRemainingSeconds() : 0.0},
      {"last_end", Q(LastEnd)},
      {"question", Question.empty() ? QJsonValue() : QJsonValue(Q(Question))},
  };
  return o;
}

QJsonArray TRunWatch::Trace() const {
  QJsonArray a;
  for (const auto &p : Z) a.append(QJsonArray{p.first, p.second});
  return a;
}

QJsonArray TRunWatch::Lines() const {
  QJsonArray a;
  for (const std::string &l : Kept) a.append(Q(l));
  return a;
}
