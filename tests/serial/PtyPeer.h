#pragma once
// The far end of a pseudo-terminal: the port under test opens SlavePath,
// the test talks through Master.
#include <cstdint>
#include <functional>
#include <string>

struct TPtyPeer {
  int Master = -1;
  std::string SlavePath;
  TPtyPeer();
  ~TPtyPeer();
  void Write(const std::string &bytes);
  std::string ReadAvailable();
  void CloseMaster();
};

class TSerialPortNG;
// Runs the port's pending calls and polls cond every 5 ms, up to ms.
bool WaitUntil(TSerialPortNG &port, const std::function<bool()> &cond, uint32_t ms = 1500);
void RealSleep(uint32_t ms);
