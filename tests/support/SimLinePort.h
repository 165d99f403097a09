#pragma once
// Simulated controllers on an in-process line: the real TSimBus, with time
// taken from the installed clock (the fake clock of THostFixture), so a move
// or a whole process runs against realistic controllers in microseconds.
// Installs itself as VeriPort() for its lifetime; install it after the
// THostFixture so its clock is the fake one.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/ClusterPort.h"
#include "sim/Bus.h"

class TSimLinePort : public IClusterPort {
public:
  explicit TSimLinePort(const std::vector<int> &addresses = {1, 2, 3});
  ~TSimLinePort() override;
  TSimLinePort(const TSimLinePort &) = delete;
  TSimLinePort &operator=(const TSimLinePort &) = delete;

  void SendText(const std::string &text) override;
  int32_t NextClusterLength() override;
  int32_t NextClusterCCError() override;
  std::string ReadNextClusterText() override;

  TSimBus Bus;
  TSimController &Ctl(int address) { return *Bus.Controller(address); }
  // Control command as the simulator's --control takes it ("drop 1 2", ...).
  std::string Control(const std::string &line);

  // Every frame sent, as sent (CR included).
  std::vector<std::string> Sent;
  // Frames sent to one address, without "#a " and CR (the commands).
  std::vector<std::string> Commands(int address) const;


  int64_t Now() const;

private:
  std::deque<std::string> Queue;
  IClusterPort *Saved;
  void Pull();
};
