#pragma once
// What the controller transport needs of the serial line: send one frame,
// and take received clusters off the queue. TSerialPortNG implements it;
// transport tests use a fake queue.
#include <cstdint>
#include <string>

class IClusterPort {
public:
  virtual ~IClusterPort() = default;
  virtual void SendText(const std::string &text) = 0;
  virtual int32_t NextClusterLength() = 0;        // -1 when the queue is empty
  virtual int32_t NextClusterCCError() = 0;       // -1 when the queue is empty
  virtual std::string ReadNextClusterText() = 0;  // "" when empty
  // True when nothing can cross the line: exchanges then fail at once.
  virtual bool LineDown() { return false; }
  // Waits up to `ms`, less when a cluster arrives; false when the port does
  // not wait (the caller sleeps itself).
  virtual bool WaitForCluster(uint32_t) { return false; }
};

// The line the controllers are reached through (SerialPortNG1 in the
// program). Null means no port: sends are dropped and nothing arrives.
IClusterPort *&VeriPort();
