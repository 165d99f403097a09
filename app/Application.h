#pragma once
// The event dispatcher: an error that escapes an event handler is shown in
// an error message box and the program goes on with the next event.
#include <QApplication>
#include <functional>
#include <string>

extern const char *const ApplicationTitle;  // "Tunk Robot Control Program"

class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int &argc, char **argv);
  bool notify(QObject *receiver, QEvent *event) override;
};

// Delivers the event through QApplication's own dispatch, catching what a
// handler throws. Returns false for an event whose handler failed.
bool NotifyGuarded(QObject *receiver, QEvent *event);
// Runs one handler; what it throws ends it and is shown as by the dispatcher.
void RunHandler(const std::function<void()> &handler);
// The error box: caption = application title, error icon, one OK button.
void ShowHandlerError(const std::string &text);
