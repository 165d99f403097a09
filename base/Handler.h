#pragma once
// Running an event handler: an error that escapes it is shown to the
// operator (the host's error box) and the program goes on with the next
// event. The window layer runs its handlers through RunHandler.
#include <functional>
#include <string>

extern const char *const ApplicationTitle;  // "Tunk Robot Control Program"

// Runs one handler; what it throws ends it and is shown as by the dispatcher.
void RunHandler(const std::function<void()> &handler);
// The error box (caption = application title, error icon, one OK button),
// asked of the host's operator; without one, a "***" line.
void ShowHandlerError(const std::string &text);
