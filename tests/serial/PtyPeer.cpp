#include "PtyPeer.h"

#include <chrono>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "serial/SerialPortNG.h"

TPtyPeer::TPtyPeer() {
  int slave = -1;
  char name[128] = {};
  if (openpty(&Master, &slave, name, nullptr, nullptr) != 0) return;
  termios t{};
  tcgetattr(Master, &t);
  cfmakeraw(&t);
  tcsetattr(Master, TCSANOW, &t);
  fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
  close(slave);  // the port opens its own
  SlavePath = name;
}

TPtyPeer::~TPtyPeer() { CloseMaster(); }

void TPtyPeer::CloseMaster() {
  if (Master >= 0) close(Master);
  Master = -1;
}

void TPtyPeer::Write(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t w = write(Master, bytes.data() + done, bytes.size() - done);
    if (w > 0) done += size_t(w);
    else RealSleep(1);
  }
}

std::string TPtyPeer::ReadAvailable() {
  std::string out;
  char buf[4096];
  for (ssize_t r; (r = read(Master, buf, sizeof buf)) > 0;) out.append(buf, size_t(r));
  return out;
}

void RealSleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool WaitUntil(TSerialPortNG &port, const std::function<bool()> &cond, uint32_t ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    port.RunPendingCalls();
    if (cond()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    RealSleep(5);
  }
}
