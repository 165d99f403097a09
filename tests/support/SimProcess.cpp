#include "SimProcess.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/socket.h>
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
  std::vector<std::string> args = {std::string(KV_BUILD_DIR) + "/veri-sim", "--log", LogPath, "--control",
                                   ControlPath};
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
  FILE *f = fdopen(out[0], "r");
  char buf[256] = {};
  const std::string line = f && fgets(buf, sizeof buf, f) ? buf : "";
  const std::string head = "veri-sim: ";
  if (f) fclose(f);
  if (line.compare(0, head.size(), head) == 0 && line.back() == '\n')
    SlavePath = line.substr(head.size(), line.size() - head.size() - 1);
}

TSimProcess::~TSimProcess() {
  Stop();
  if (!Dir.empty() && std::system(("rm -rf '" + Dir + "'").c_str()) != 0) {}
}

void TSimProcess::Stop() {
  if (Pid <= 0) return;
  kill(Pid, SIGTERM);
  // Killed outright when it does not end within 2 s.
  for (int i = 0; waitpid(Pid, nullptr, WNOHANG) == 0; ++i) {
    if (i == 200) kill(Pid, SIGKILL);
    usleep(10000);
  }
  Pid = -1;
}

bool TSimProcess::Control(const std::string &line) {
  const std::string text = line + "\n";
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, ControlPath.c_str(), sizeof a.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  const bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
                  write(fd, text.data(), text.size()) == ssize_t(text.size());
  if (fd >= 0) close(fd);
  return ok;
}

std::vector<std::string> TSimProcess::LogLines() const {
  std::vector<std::string> lines;
  std::ifstream f(LogPath);
  for (std::string l; std::getline(f, l);) lines.push_back(l);
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
