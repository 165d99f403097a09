#pragma once
// The event dispatcher: an error that escapes an event handler is shown in
// an error message box and the program goes on with the next event.
#include <QApplication>

#include "base/Handler.h"
#include "base/Host.h"

class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int &argc, char **argv);
  bool notify(QObject *receiver, QEvent *event) override;
};

// Delivers the event through QApplication's own dispatch, catching what a
// handler throws. Returns false for an event whose handler failed.
bool NotifyGuarded(QObject *receiver, QEvent *event);

// The operator until the main window takes over (the work folder, say): a
// plain box for a message with one button; a real choice answers what
// moves nothing, as there is no window to choose from.
class TBoxOperator : public IOperator {
public:
  unsigned Ask(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
               unsigned ending) override;
};
