#include "base/Handler.h"

#include <QMessageBox>
#include <exception>

#include "base/Host.h"

const char *const ApplicationTitle = "Tunk Robot Control Program";

void ShowHandlerError(const std::string &text) {
  if (Host().Operator) {
    AskOperator(TMsgKind::Error, text, mbOK, mbOK);
    return;
  }
  // No main window (yet or any more): a plain box of our own.
  QMessageBox::critical(nullptr, ApplicationTitle, QString::fromStdString(text), QMessageBox::Ok);
}

void RunHandler(const std::function<void()> &handler) {
  try {
    handler();
  } catch (const std::exception &e) {
    ShowHandlerError(e.what());
  } catch (...) {
    ShowHandlerError("Unknown error");
  }
}
