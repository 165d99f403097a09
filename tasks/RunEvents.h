#pragma once
// What a task run tells those who follow it (the window's status, a remote
// page): one event per step that matters. The run's owner sends them on
// the window thread; a listener must not start motion or block.
#include <cstdint>
#include <functional>
#include <string>

enum class TRunEventKind {
  RunStarted,        // Task, Line
  DipStarted,        // Process, Dip of Dips
  DipEnded,          // Process, Dip of Dips, End
  ProcessDone,       // Process, End
  RunEnded,          // Task, End ("done", "stopped", ...), Text: one-line summary
  QuestionAsked,     // Text: the question
  QuestionAnswered,  // Text: the question, Answer, Seconds it stayed open
  LineFault,         // Text: the report line
};

struct TRunEvent {
  explicit TRunEvent(TRunEventKind kind = TRunEventKind::RunStarted) : Kind(kind) {}
  TRunEventKind Kind;
  std::string Task, Line, Process, End, Text, Answer;
  int Dip = 0, Dips = 0;
  double Seconds = 0;
};

using TRunListener = std::function<void(const TRunEvent &)>;
// Adds a listener; the returned id removes it.
int AddRunListener(TRunListener listener);
void RemoveRunListener(int id);
// Sends `event` to every listener, in the order they were added.
void SendRunEvent(const TRunEvent &event);
