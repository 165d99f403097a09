#pragma once
// The simulator's process side: the pseudo-terminal, the control endpoint
// (a unix socket, or a FIFO that already exists at the path) and the loop
// that serves both until SIGTERM or SIGINT.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/Bus.h"

// The defaults are those of a real line: 19200 baud, a few ms to think, and
// longer for the commands that write the program memory.
struct TSimOptions {
  std::vector<int> Axes = {1, 2, 3};
  std::string LinkPath, LogPath, ControlPath;
  double Speedup = 1.0;
  int Baud = 19200;
  bool EchoLive = false;
  TSimLatency Latency{3, 4};
  std::map<std::string, TSimLatency> CommandLatency = {
      {"line", {25, 10}}, {"NEW", {25, 10}}, {"QUIT", {80, 40}}};
  double Acceleration = 100;        // mm/s^2
  int64_t Seed = -1;                // -1: from the clock
  std::vector<std::string> Faults;  // control commands applied at the start
};

// Parses the command line; false with a message in error on bad input.
bool ParseSimOptions(const std::vector<std::string> &args, TSimOptions &options, bool &help,
                     std::string &error);
// Runs the simulator; returns the process exit code.
int RunSimServer(const TSimOptions &options);
