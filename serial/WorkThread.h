#pragma once
// The worker of one TSerialPortNG: watches the open tty, collects writes
// that did not finish at once, cuts waiting input into clusters and raises
// the component's events through the main-thread hand-over.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "serial/SerialLine.h"
#include "serial/SerialPortNG.h"

class TWorkThread : public IPortWorker {
public:
  explicit TWorkThread(TSerialPortNG &port);  // starts at once
  ~TWorkThread() override;                    // Terminate and WaitFor
  void Terminate() override;
  bool Terminated() const override { return FTerminated; }
  void WaitFor() override;
  void Wake() override;

private:
  void Execute();
  void CheckLineStatus();
  void CheckWriteCompletion();
  void TryRead();
  void StoreCluster(uint32_t count, const char *buffer);
  void WaitForLine();
  void DispatchCommEvents(uint32_t mask);
  void ReportFromWorker(uint32_t place, uint32_t code, const std::string &message);
  void SleepOnWake(uint32_t ms);
  void DrainWake();
  uint32_t CutDelayMs(uint32_t waiting) const;

  TSerialPortNG &Port;
  std::thread Thread;
  std::atomic<bool> FTerminated{false};
  int WakeFd = -1;

  // Loop state (locals of the loop in spirit; kept here to share between the steps).
  int Fd = -1;
  uint32_t LastRxTick = 0;
  uint32_t EventMask = 0;  // events seen during this pass
  TLineCounters Counters;  // error counters at the last reading
  bool HangupReported = false;
  bool LineGone = false;  // the last wait saw a hang-up or error

  // Report slot relayed to the main thread.
  uint32_t SlotPlace = 0, SlotCode = 0;
  std::string SlotMsg;
  uint8_t SlotNoise = 0;
};
