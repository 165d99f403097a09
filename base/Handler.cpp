#include "base/Handler.h"

#include <exception>

#include "base/Host.h"

const char *const ApplicationTitle = "Tunk Robot Control Program";

void ShowHandlerError(const std::string &text) {
  if (Host().Operator) {
    AskOperator(TMsgKind::Error, text, mbOK, mbOK);
    return;
  }
  // Nobody to show it to: kept in the day log at least.
  ReportDirect("*** " + text);
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
