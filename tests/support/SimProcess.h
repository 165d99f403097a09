#pragma once
// Starts build/veri-sim for an end-to-end test and stops it again.
#include <memory>
#include <string>
#include <vector>
#include <sys/types.h>

class TSerialPortNG;
class IClusterPort;

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
  // Lines of the log file so far.
  std::vector<std::string> LogLines() const;
  // The frames received so far, as "#a command" ("#a" alone for a poll).
  std::vector<std::string> Frames() const;
  bool Received(const std::string &frame) const;
  void Stop();

private:
  pid_t Pid = -1;
  std::string Dir;
};

// KV_FAST_REPLIES=1 runs the end-to-end tests with "Replies end at the line
// end" on (tests/CMakeLists.txt runs them both ways).
bool FastRepliesUnderTest();

// The program's side of an end-to-end test: a real serial port on the
// simulator's pty, installed as the controllers' line, and the real clock
// (the controllers live outside). Install after the THostFixture.
class TSimLine {
public:
  explicit TSimLine(const std::vector<std::string> &simArgs = {});
  ~TSimLine();
  TSimLine(const TSimLine &) = delete;
  TSimLine &operator=(const TSimLine &) = delete;
  bool Open() const;  // simulator started and port open
  // The machine of the task runs: tables reset, controllers powered, the
  // simulator ten times faster, every axis at the simulator's 10 mm,
  // standard height and speed small, home at 1 cm, output channel 2 on Z
  // pin 4, and two positions "Rinse" and "Coat".
  void PrepareDipMachine();
  TSimProcess Sim;
  std::unique_ptr<TSerialPortNG> Port;

private:
  IClusterPort *SavedPort;
};
