#include "base/Host.h"

#include <chrono>
#include <thread>

uint8_t ReportLevel = 1;

namespace {
class TRealClock : public IClock {
public:
  uint32_t GetTickCount() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
TRealClock RealClock;
}  // namespace

THost &Host() {
  static THost host;
  return host;
}

void ReportDirect(const std::string &line) {
  if (Host().Report) Host().Report->AppendLine(line);
}

void ReportLine(const std::string &line) {
  if (ReportLevel == 1) {
    if (!line.empty() && line[0] == '$') return;
    ReportDirect(line);
  } else if (ReportLevel == 2) {
    ReportDirect(line);
  }
}

unsigned AskOperator(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
                     unsigned ending) {
  if (!ending) ending = closed;
  if (Host().Operator) return Host().Operator->Ask(kind, text, buttons, closed, ending);
  return ending;
}

void ProcessMessages() {
  if (Host().Events) Host().Events->ProcessMessages();
}

uint32_t GetTickCount() { return (Host().Clock ? Host().Clock : &RealClock)->GetTickCount(); }

void SleepMs(uint32_t ms) { (Host().Clock ? Host().Clock : &RealClock)->Sleep(ms); }
