#include "base/Host.h"

#include "base/DayLog.h"

#include <chrono>
#include <thread>

uint8_t ReportLevel = 1;

namespace {
class TRealClock : public IClock {
public:
  uint32_t GetTickCount() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
TRealClock RealClock;
}  // namespace

int64_t IClock::WallMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

THost &Host() {
  static THost host;
  return host;
}

namespace {
// The day log takes every line; the window only those shown.
void Report(const std::string &line, bool shown) {
  const std::string fault = DayLog().Write(line, WallMs());
  if (shown && Host().Report) Host().Report->AppendLine(line);
  // Its own line cannot raise another: the log reports once until it works again.
  if (!fault.empty()) ReportLine(fault);
}
}  // namespace

void ReportDirect(const std::string &line) { Report(line, true); }

void ReportLine(const std::string &line) {
  Report(line, ReportLevel == 2 || (ReportLevel == 1 && (line.empty() || line[0] != '$')));
}

unsigned AskOperator(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
                     unsigned ending) {
  if (!ending) ending = closed;
  if (!Host().Operator) return ending;
  const uint32_t asked = GetTickCount();
  const unsigned answer = Host().Operator->Ask(kind, text, buttons, closed, ending);
  const double seconds = static_cast<uint32_t>(GetTickCount() - asked) / 1000.0;
  if (!Host().Answered) return answer;
  std::string shown;  // on one line
  for (char c : text) shown += (c == '\r' || c == '\n') ? ' ' : c;
  while (shown.find("  ") != std::string::npos) shown.erase(shown.find("  "), 1);
  const size_t b = shown.find_first_not_of(' ');
  shown = b == std::string::npos ? "" : shown.substr(b);
  static const char *const Names[] = {"Yes", "No", "OK", "Cancel", "Abort", "Retry", "Ignore"};
  std::string name = "?";
  for (int i = 0; i < 7; ++i)
    if (answer == (1u << i)) name = Names[i];
  Host().Answered(shown, name, seconds);
  return answer;
}

bool AskOperatorTexts(const std::string &title, std::vector<std::pair<std::string, std::string>> &fields) {
  return Host().Operator && Host().Operator->AskTexts(title, fields);
}

void ProcessMessages() {
  if (Host().Events) Host().Events->ProcessMessages();
}

uint32_t GetTickCount() { return (Host().Clock ? Host().Clock : &RealClock)->GetTickCount(); }

int64_t WallMs() { return (Host().Clock ? Host().Clock : &RealClock)->WallMs(); }

void SleepMs(uint32_t ms) { (Host().Clock ? Host().Clock : &RealClock)->Sleep(ms); }
