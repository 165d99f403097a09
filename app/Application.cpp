#include "app/Application.h"

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
  setApplicationName(ApplicationTitle);
}

bool TApplication::notify(QObject *receiver, QEvent *event) { return NotifyGuarded(receiver, event); }

bool NotifyGuarded(QObject *receiver, QEvent *event) {
  bool delivered = false;
  RunHandler([&] { delivered = qApp->QApplication::notify(receiver, event); });
  return delivered;
}
