#pragma once
// Notices to chat webhooks and the like: when a run ends and when a
// question waits for the operator, a POST of {"text": ...} to each URL.
// Sent from a thread of its own, retried a few times; the run never waits
// for it. A URL that fails is logged once, until it works again.
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
  // What an event is told with; "" for the events that notify nobody.
  static std::string NoticeText(const TRunEvent &event);
  // Notices to one URL that have ended, sent or given up.
  int Ended() const { return EndedCount; }

private:
  void Done(const std::string &url, const std::string &failure);
  std::vector<std::string> Urls;
  int RetryMs;
  QThread Thread;
  QObject *Worker;
  std::set<std::string> Failing;
  int ListenerId = 0;
  int EndedCount = 0;
};
