#pragma once
// The simulator's process side: the pseudo-terminal, the control endpoint
// (a unix socket, or a FIFO that already exists at the path) and the loop
// that serves both until SIGTERM or SIGINT.
#include <string>
#include <vector>

struct TSimOptions {
  std::vector<int> Axes = {1, 2, 3};
  std::string LinkPath, LogPath, ControlPath;
  double Speedup = 1.0;
};

// Parses the command line; false with a message in error on bad input.
bool ParseSimOptions(const std::vector<std::string> &args, TSimOptions &options, bool &help,
                     std::string &error);
// Runs the simulator; returns the process exit code.
int RunSimServer(const TSimOptions &options);
