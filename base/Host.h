#pragma once
// The few ways the program's logic reaches the outside world. The main
// window implements them; tests install fakes (see tests/support/Fakes.h),
// so a 60 s wait runs in microseconds and a question gets a scripted answer.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <utility>

// Kinds of modal question; the icon shown follows from the kind.
enum class TMsgKind { Warning, Error, Information, Confirmation };

// Standard buttons. Ask() takes a set of them and returns the one pressed.
enum TMsgButton : unsigned {
  mbYes = 1,
  mbNo = 2,
  mbOK = 4,
  mbCancel = 8,
  mbAbort = 16,
  mbRetry = 32,
  mbIgnore = 64
};

class IReportSink {
public:
  virtual ~IReportSink() = default;
  // Appends one line to the report log, unfiltered.
  virtual void AppendLine(const std::string &line) = 0;
};

class IOperator {
public:
  virtual ~IOperator() = default;
  // Modal question; returns the button pressed (one of `buttons`). A box
  // closed without a button (Esc, close box) answers `closed`; one open, or
  // asked, when the program is told to end answers `ending`.
  virtual unsigned Ask(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
                       unsigned ending) = 0;
  // A few short texts (caption, value), shown filled in; false when the box
  // was closed without OK (the values are then left as they were).
  virtual bool AskTexts(const std::string &title, std::vector<std::pair<std::string, std::string>> &fields) {
    (void)title, (void)fields;
    return false;
  }
};

class IEventPump {
public:
  virtual ~IEventPump() = default;
  // Runs the pending window events; handlers may run nested inside.
  virtual void ProcessMessages() = 0;
};

class IClock {
public:
  virtual ~IClock() = default;
  virtual uint32_t GetTickCount() = 0;  // milliseconds, wraps like a 32-bit tick
  virtual void Sleep(uint32_t ms) = 0;
  // Wall-clock time, ms since the epoch (the report log's stamps); the
  // system clock unless a host says otherwise.
  virtual int64_t WallMs();
};

// Hears every question the operator answered: its text, the answer's
// name ("Yes", "Retry", ...) and how long the box stayed open (s).
using TAnswerListener =
    std::function<void(const std::string &text, const std::string &answer, double seconds)>;

struct THost {
  IReportSink *Report = nullptr;
  IOperator *Operator = nullptr;
  IEventPump *Events = nullptr;
  IClock *Clock = nullptr;
  TAnswerListener Answered;  // the run under way notes them in its record
};

// The program-wide host. Null members fall back to harmless defaults
// (lines dropped, questions answered as if the program were ending, real
// clock).
THost &Host();

// Report verbosity: 0 nothing, 1 all but "$" lines, 2 all; others like 0.
extern uint8_t ReportLevel;

// Appends a line to the report log, filtered by ReportLevel. Both also
// write every line to the day log (base/DayLog.h) when it is open.
void ReportLine(const std::string &line);
// Appends a line whatever ReportLevel says (the few "direct" lines).
void ReportDirect(const std::string &line);

// Convenience wrappers over the host.
// `closed`: what closing the box without a button answers; `ending`: the
// answer that moves nothing, when it differs from `closed` (0: the same).
unsigned AskOperator(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
                     unsigned ending = 0);
bool AskOperatorTexts(const std::string &title, std::vector<std::pair<std::string, std::string>> &fields);
void ProcessMessages();
uint32_t GetTickCount();
int64_t WallMs();
void SleepMs(uint32_t ms);
