#pragma once
// Starts build/veri-sim for an end-to-end test and stops it again.
#include <string>
#include <vector>
#include <sys/types.h>

class TSimProcess {
public:
  // extraArgs are passed through, e.g. {"--axes", "1,3"}.
  explicit TSimProcess(const std::vector<std::string> &extraArgs = {});
  ~TSimProcess();
  TSimProcess(const TSimProcess &) = delete;
  TSimProcess &operator=(const TSimProcess &) = delete;

  bool Started() const { return !SlavePath.empty(); }
  std::string SlavePath;    // the pty the program opens
  std::string LogPath;      // --log file
  std::string ControlPath;  // --control path

  // Sends one control command line to the simulator.
  bool Control(const std::string &line);
  // The frames received so far, as "#a command" ("#a" alone for a poll).
  std::vector<std::string> LogLines() const;  // the simulator's whole log
  std::vector<std::string> Frames() const;
  void Stop();

private:
  pid_t Pid = -1;
  std::string Dir;
};
