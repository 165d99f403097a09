#pragma once
// The event dispatcher: an error that escapes an event handler is shown in
// an error message box and the program goes on with the next event.
#include <QApplication>

#include "base/Handler.h"

class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int &argc, char **argv);
  bool notify(QObject *receiver, QEvent *event) override;
};

// Delivers the event through QApplication's own dispatch, catching what a
// handler throws. Returns false for an event whose handler failed.
bool NotifyGuarded(QObject *receiver, QEvent *event);
