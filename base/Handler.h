#pragma once
// Running an event handler: an error that escapes it is shown in an error
// message box and the program goes on with the next event. Every layer's
// widgets run their handlers through RunHandler.
#include <functional>
#include <string>

extern const char *const ApplicationTitle;  // "Tunk Robot Control Program"

// Runs one handler; what it throws ends it and is shown as by the dispatcher.
void RunHandler(const std::function<void()> &handler);
// The error box: caption = application title, error icon, one OK button.
void ShowHandlerError(const std::string &text);
