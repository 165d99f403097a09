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
  // The bus's log lines ("<ms> #1 VER", "<ms> -> ...").
  std::vector<std::string> Log;
  // Frames sent to one address, without "#a " and CR (the commands).
  std::vector<std::string> Commands(int address) const;

  // A scripted cluster put at the end of the queue, as if just received.
  void Inject(const std::string &cluster, int32_t ccError = 0);
  // The next cluster taken from the bus carries this line error.
  int32_t NextCCError = 0;

  int64_t Now() const;

private:
  struct TCluster {
    std::string Text;
    int32_t CCError;
  };
  std::deque<TCluster> Queue;
  IClusterPort *Saved;
  void Pull();
};
