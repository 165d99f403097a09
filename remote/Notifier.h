#pragma once
// Notices to chat webhooks and the like: when a run ends and when a
// question waits for the operator, a POST of {"text": ...} to each URL.
// Sent from a thread of its own, retried a few times; the run never waits
// for it. A URL that fails is logged once, until it works again, by its
// scheme and host alone.
#include <QObject>
#include <QThread>
#include <set>
#include <string>
#include <vector>

#include "tasks/RunEvents.h"

class TNotifier : public QObject {
  Q_OBJECT
public:
  static constexpr int Attempts = 3;
  static constexpr int TimeoutMs = 10000;

  explicit TNotifier(std::vector<std::string> urls, int retryMs = 2000, QObject *parent = nullptr);
  // Ends the thread; notices still under way are dropped.
  ~TNotifier() override;
  // Posts {"text": text, ...} to every URL and returns at once.
  void Send(const std::string &text, const TRunEvent &event);
  // A test notice to every URL; each one's outcome is logged. The notifier
  // then sends nothing else (it no longer follows the runs).
  void Test();
  // A URL as the log shows it: scheme, host and port, no user, path or query.
  static std::string Shown(const std::string &url);
  // What an event is told with; "" for the events that notify nobody.
  static std::string NoticeText(const TRunEvent &event);
  // Notices to one URL that have ended, sent or given up.
  int Ended() const { return EndedCount; }

private:
  void Post(const std::string &text, const TRunEvent &event, bool test);
  void Done(const std::string &url, const std::string &failure, bool test);
  std::vector<std::string> Urls;
  int RetryMs;
  QThread Thread;
  QObject *Worker;
  std::set<std::string> Failing;
  int ListenerId = 0;
  int EndedCount = 0;
};
