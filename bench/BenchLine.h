#pragma once
// What the benchmarks against veri-sim share: the program's port opened on
// the simulator's pty, and the small dip recipe they run.
#include <cstdio>
#include <string>

#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "serial/SerialPortNG.h"
#include "support/SimProcess.h"
#include "veri/Transport.h"

// Opens `port` as the program opens its own and makes it the controllers'
// line; false (and a "<tag>: failed" line) when the simulator or port is not up.
inline bool OpenBenchPort(TSerialPortNG &port, const TSimProcess &sim, bool fast, const std::string &tag) {
  port.SetCommPort(sim.SlavePath);
  port.SetBaudRate(19200);
  port.SetRTOCharDelayTime(570);  // as the program's port
  port.SetWTOCharDelayTime(570);
  port.ThreadQuietMode = true;
  port.SetFastReplies(fast ? TFastReplies::On : TFastReplies::Off);
  port.SetActive(true);
  if (!sim.Started() || !port.Active()) {
    std::printf("%s: failed (veri-sim not started or port not open)\n", tag.c_str());
    return false;
  }
  VeriPort() = &port;
  return true;
}

// Every motor's current on, the axes known to stand at 1 cm (the
// simulator starts at 10 mm).
inline void BenchMotorsOn() {
  for (uint8_t a = 1; a <= 3; ++a) {
    VERIDialog(a, "P134=7");
    Axes[a].Position = 1;
  }
}

// Position "Bench" at 1/1 cm and process "Bench" there: 1 cm strokes at
// 2 cm/s between 1 and 2 cm, waits of 1.0 s (1.1 s) and 0.5 s (0.6 s).
inline TProcEntry BenchProcess(int32_t dips) {
  MachineSettings.StandardZ = 1;
  AppendPosition({"Bench", 1, 1});
  TProcEntry e;
  e.Name = "Bench";
  e.PosNo = 1;
  e.InSpeed = e.OutSpeed = 2;
  e.UpperPos = 1;
  e.LowPos = 2;
  e.InTime = 1.0;
  e.OutTime = 0.5;
  e.NoTunks = dips;
  return e;
}

// Process "Bench" of `dips` dips appended, its output channel 1 not wired
// (logged, nothing sent).
inline void AppendBenchProcess(int32_t dips) {
  TProcEntry e = BenchProcess(dips);
  e.ChNo = 1;
  AppendProcess(e);
}
