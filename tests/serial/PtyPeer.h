#pragma once
// The far end of a pseudo-terminal: the port under test opens SlavePath,
// the test talks through Master.
#include <chrono>
#include <functional>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "serial/SerialPortNG.h"

inline void RealSleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct TPtyPeer {
  int Master = -1;
  std::string SlavePath;
  TPtyPeer() {
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
  ~TPtyPeer() { CloseMaster(); }
  void CloseMaster() {
    if (Master >= 0) close(Master);
    Master = -1;
  }
  void Write(const std::string &bytes) {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t w = write(Master, bytes.data() + done, bytes.size() - done);
      if (w > 0) done += size_t(w);
      else RealSleep(1);
    }
  }
  std::string ReadAvailable() {
    std::string out;
    char buf[4096];
    for (ssize_t r; (r = read(Master, buf, sizeof buf)) > 0;) out.append(buf, size_t(r));
    return out;
  }
};

// Runs the port's pending calls and polls cond every 5 ms, up to ms.
inline bool WaitUntil(TSerialPortNG &port, const std::function<bool()> &cond, uint32_t ms = 1500) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    port.RunPendingCalls();
    if (cond()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    RealSleep(5);
  }
}
