#include "app/SignalClose.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "app/FormMain.h"

namespace {
int SignalFds[2] = {-1, -1};

extern "C" void OnCloseSignal(int) {
  const char byte = 1;
  // Nothing else is safe here; a full pipe already holds a pending close.
  [[maybe_unused]] ssize_t n = ::write(SignalFds[0], &byte, 1);
}

void CloseProgram() {
  if (FormMain) FormMain->EndProgram();
  // Without a visible window the loop would not end by itself.
  QCoreApplication::quit();
}
}  // namespace

void InstallSignalClose(QObject *parent) {
  if (SignalFds[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, SignalFds) != 0) return;
  auto *notifier = new QSocketNotifier(SignalFds[1], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
    char buf[16];
    while (::read(SignalFds[1], buf, sizeof buf) > 0) {}
    CloseProgram();
  });
  struct sigaction sa = {};
  sa.sa_handler = OnCloseSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}
