#include "app/Application.h"

#include <QMessageBox>
#include <exception>

#include "app/Host.h"

const char *const ApplicationTitle = "Tunk Robot Control Program";

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
  setApplicationName(ApplicationTitle);
}

bool TApplication::notify(QObject *receiver, QEvent *event) { return NotifyGuarded(receiver, event); }

void ShowHandlerError(const std::string &text) {
  if (Host().Operator) {
    AskOperator(TMsgKind::Error, text, mbOK, mbOK);
    return;
  }
  // No main window (yet or any more): a plain box of our own.
  QMessageBox::critical(nullptr, ApplicationTitle, QString::fromStdString(text), QMessageBox::Ok);
}

namespace {
template <typename F>
bool Guarded(F &&call) {
  try {
    return call();
  } catch (const std::exception &e) {
    ShowHandlerError(e.what());
  } catch (...) {
    ShowHandlerError("Unknown error");
  }
  return false;
}
}  // namespace

bool NotifyGuarded(QObject *receiver, QEvent *event) {
  return Guarded([&] { return qApp->QApplication::notify(receiver, event); });
}

void RunHandler(const std::function<void()> &handler) {
  Guarded([&] {
    handler();
    return true;
  });
}
