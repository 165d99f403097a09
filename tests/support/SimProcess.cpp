#include "SimProcess.h"

#include "base/Host.h"
#include "base/OpState.h"
#include "base/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "tasks/Process.h"
#include "veri/Transport.h"
#include "serial/ClusterPort.h"
#include "serial/SerialPortNG.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef KV_BUILD_DIR
#define KV_BUILD_DIR "."
#endif

TSimProcess::TSimProcess(const std::vector<std::string> &extraArgs) {
  char tmpl[] = "/tmp/kv-sim-XXXXXX";
  if (!mkdtemp(tmpl)) return;
  Dir = tmpl;
  LogPath = Dir + "/sim.log";
  ControlPath = Dir + "/control";
  std::vector<std::string> args = {std::string(KV_BUILD_DIR) + "/veri-sim", "--log", LogPath,
                                   "--control", ControlPath};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  int out[2];
  if (pipe(out) != 0) return;
  Pid = fork();
  if (Pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  // The first line names the slave side of the pty.
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&p, 1, 5000) > 0) {
    char buf[256];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, n);
  }
  close(out[0]);
  const std::string head = "veri-sim: ";
  auto nl = line.find('\n');
  if (line.compare(0, head.size(), head) == 0 && nl != std::string::npos)
    SlavePath = line.substr(head.size(), nl - head.size());
  // The control endpoint may appear a moment after the banner.
  for (int i = 0; i < 100 && access(ControlPath.c_str(), F_OK) != 0; ++i) usleep(10000);
}

TSimProcess::~TSimProcess() {
  Stop();
  if (!Dir.empty()) {
    std::string cmd = "rm -rf '" + Dir + "'";
    if (std::system(cmd.c_str()) != 0) {}
  }
}

void TSimProcess::Stop() {
  if (Pid > 0) {
    kill(Pid, SIGTERM);
    int st = 0;
    for (int i = 0; i < 200; ++i) {
      if (waitpid(Pid, &st, WNOHANG) == Pid) { Pid = -1; return; }
      usleep(10000);
    }
    kill(Pid, SIGKILL);
    waitpid(Pid, &st, 0);
    Pid = -1;
  }
}

bool TSimProcess::Control(const std::string &line) {
  struct stat st{};
  if (stat(ControlPath.c_str(), &st) != 0) return false;
  std::string text = line + "\n";
  if (S_ISSOCK(st.st_mode)) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, ControlPath.c_str(), sizeof a.sun_path - 1);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
              write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    return ok;
  }
  int fd = open(ControlPath.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
  close(fd);
  return ok;
}

std::vector<std::string> TSimProcess::LogLines() const {
  std::vector<std::string> lines;
  std::ifstream f(LogPath);
  std::string l;
  while (std::getline(f, l)) lines.push_back(l);
  return lines;
}

std::vector<std::string> TSimProcess::Frames() const {
  std::vector<std::string> frames;
  for (const std::string &l : LogLines()) {
    const size_t sp = l.find(' ');
    if (sp != std::string::npos && l.compare(sp + 1, 1, "#") == 0) frames.push_back(l.substr(sp + 1));
  }
  return frames;
}

bool TSimProcess::Received(const std::string &frame) const {
  for (const std::string &f : Frames())
    if (f == frame) return true;
  return false;
}

bool FastRepliesUnderTest() {
  const char *v = std::getenv("KV_FAST_REPLIES");
  return v && std::string(v) == "1";
}

TSimLine::TSimLine(const std::vector<std::string> &simArgs)
    : Sim(simArgs), Port(std::make_unique<TSerialPortNG>()), SavedPort(VeriPort()) {
  Host().Clock = nullptr;
  if (!Sim.Started()) return;
  Port->SetCommPort(Sim.SlavePath);
  Port->SetBaudRate(19200);
  Port->ThreadQuietMode = true;
  Port->SetFastReplies(FastRepliesUnderTest());
  Port->SetActive(true);
  VeriPort() = Port.get();
}

TSimLine::~TSimLine() {
  VeriPort() = SavedPort;
  Port->SetActive(false);
}

bool TSimLine::Open() const { return Sim.Started() && Port->Active(); }

void TSimLine::PrepareDipMachine() {
  ResetMachineDefaults();
  ResetDefinitions();
  StopRequest = AbortRequest = false;
  SetOpState(Idle);
  Sim.Control("speedup 10");
  for (uint8_t a = 1; a <= 3; ++a) {
    VERIDialog(a, "P134=7");
    Axes[a].Position = 1;
    Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
  }
  MachineSettings.StandardZ = 1;
  MachineSettings.HomeX = MachineSettings.HomeY = MachineSettings.HomeZ = 1;
  MachineSettings.StandardV = 2;
  DigOutCount = 4;
  DigOutTable[2].Address = 3;
  DigOutTable[2].Pin = 4;
  AppendPosition({"Rinse", 2, 1.5});
  AppendPosition({"Coat", 3, 2});
}
