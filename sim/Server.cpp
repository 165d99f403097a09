#include "sim/Server.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include "sim/Bus.h"

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
  char c = 1;
  if (write(SignalPipe[1], &c, 1) < 0) {}
}

double MonoMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

void NonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

bool ParseSimOptions(const std::vector<std::string> &args, TSimOptions &o, bool &help, std::string &error) {
  help = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--help" || a == "-h") {
      help = true;
      return true;
    }
    if (a == "--echo-live") {
      o.EchoLive = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "missing value after " + a;
      return false;
    }
    const std::string &v = args[++i];
    if (a == "--axes") {
      o.Axes.clear();
      size_t p = 0;
      while (p <= v.size()) {
        size_t q = v.find(',', p);
        std::string part = v.substr(p, q == std::string::npos ? std::string::npos : q - p);
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 3 ||
            std::stoi(part) > 255) {
          error = "bad address list: " + v;
          return false;
        }
        o.Axes.push_back(std::stoi(part));
        if (q == std::string::npos) break;
        p = q + 1;
      }
    } else if (a == "--link") o.LinkPath = v;
    else if (a == "--log") o.LogPath = v;
    else if (a == "--control") o.ControlPath = v;
    else if (a == "--speedup") {
      double d;
      if (!SimParseNumber(v, d) || d <= 0) {
        error = "bad speed-up factor: " + v;
        return false;
      }
      o.Speedup = d;
    } else if (a == "--baud" || a == "--accel" || a == "--seed") {
      double d;
      if (!SimParseNumber(v, d) || d < 0 || d != std::floor(d) || d > 4e9) {
        error = "bad number after " + a + ": " + v;
        return false;
      }
      if (a == "--baud") o.Baud = int(d);
      else if (a == "--accel") o.Acceleration = d;
      else o.Seed = int64_t(d);
    } else if (a == "--fault") {
      TSimBus probe(o.Axes);
      const std::string r = probe.Control(v, 0);
      if (r != "ok") {
        error = "bad fault: " + v + " (" + r + ")";
        return false;
      }
      o.Faults.push_back(v);
    } else if (a == "--latency") {
      const size_t eq = v.find('=');
      TSimLatency l;
      if (!SimParseLatency(eq == std::string::npos ? v : v.substr(eq + 1), l) || eq == 0) {
        error = "bad latency: " + v;
        return false;
      }
      if (eq == std::string::npos) o.Latency = l;
      else o.CommandLatency[v.substr(0, eq)] = l;
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

int RunSimServer(const TSimOptions &o) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("veri-sim: pty");
    return 1;
  }
  std::string slavePath = ptsname(master);
  // Holding the slave open keeps the master readable while no program has
  // the port open; raw mode so bytes pass unchanged and nothing is echoed.
  int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  if (slave >= 0 && tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tcsetattr(slave, TCSANOW, &tio);
  }
  NonBlocking(master);

  FILE *log = nullptr;
  if (!o.LogPath.empty() && !(log = std::fopen(o.LogPath.c_str(), "w"))) {
    std::perror(("veri-sim: " + o.LogPath).c_str());
    return 1;
  }
  if (!o.LinkPath.empty()) {
    struct stat st {};
    if (lstat(o.LinkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(o.LinkPath.c_str());
    if (symlink(slavePath.c_str(), o.LinkPath.c_str()) != 0) {
      std::perror(("veri-sim: " + o.LinkPath).c_str());
      return 1;
    }
  }
  // The control endpoint exists before the banner, so a starter that has
  // read the banner can send commands at once.
  int listener = -1, fifo = -1;
  bool ownSocket = false;
  if (!o.ControlPath.empty()) {
    struct stat st {};
    if (stat(o.ControlPath.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
      fifo = open(o.ControlPath.c_str(), O_RDWR | O_NONBLOCK);  // RDWR: never sees EOF
    } else {
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      if (o.ControlPath.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "veri-sim: control path too long\n");
        return 1;
      }
      std::strcpy(addr.sun_path, o.ControlPath.c_str());
      if (lstat(o.ControlPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(o.ControlPath.c_str());
      listener = socket(AF_UNIX, SOCK_STREAM, 0);
      if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
          listen(listener, 8) != 0) {
        std::perror(("veri-sim: " + o.ControlPath).c_str());
        return 1;
      }
      NonBlocking(listener);
      ownSocket = true;
    }
  }

  if (pipe(SignalPipe) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const double start = MonoMs();
  auto now = [&] { return MonoMs() - start; };
  TSimBus bus(o.Axes);
  bus.SetSpeedup(o.Speedup, 0);
  bus.Baud = o.Baud;
  bus.EchoLive = o.EchoLive;
  bus.Latency = o.Latency;
  bus.CommandLatency = o.CommandLatency;
  bus.KeepLatencies();
  bus.Seed(uint32_t(o.Seed >= 0 ? o.Seed : int64_t(time(nullptr)) % 1000000));
  for (int a : o.Axes) bus.Controller(a)->Acceleration = o.Acceleration;
  bus.Log = [&](const std::string &line) {
    if (log) {
      std::fprintf(log, "%s\n", line.c_str());
      std::fflush(log);
    }
  };
  // The seed of the jitter, so a run can be repeated with --seed.
  std::printf("veri-sim: %s\nveri-sim: seed %u\n", slavePath.c_str(), bus.SeedUsed);
  std::fflush(stdout);
  bus.Note(0, "seed " + std::to_string(bus.SeedUsed));
  for (const std::string &f : o.Faults) bus.Control(f, 0);

  std::map<int, std::string> clients;  // control connections and their partial line
  auto controlLines = [&](int fd, std::string &partial, bool answer) {
    char buf[512];
    ssize_t n;
    bool closed = false;
    while ((n = read(fd, buf, sizeof buf)) > 0) partial.append(buf, size_t(n));
    if (n == 0) closed = true;
    size_t nl;
    while ((nl = partial.find('\n')) != std::string::npos) {
      std::string line = partial.substr(0, nl);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      partial.erase(0, nl + 1);
      std::string result = bus.Control(line, now());
      if (answer) {
        result += "\n";
        if (send(fd, result.data(), result.size(), MSG_NOSIGNAL) < 0) {}
      }
    }
    return closed;
  };
  std::string fifoPartial;
  // Commands already waiting are applied before the next frame is looked at,
  // so a test that sent a command and then a frame sees them in that order.
  auto pumpControl = [&] {
    if (fifo >= 0) controlLines(fifo, fifoPartial, false);
    if (listener >= 0) {
      int c;
      while ((c = accept(listener, nullptr, nullptr)) >= 0) {
        NonBlocking(c);
        clients[c] = "";
      }
    }
    for (auto it = clients.begin(); it != clients.end();) {
      if (controlLines(it->first, it->second, true)) {
        close(it->first);
        it = clients.erase(it);
      } else ++it;
    }
  };

  bool running = true;
  while (running) {
    std::vector<pollfd> fds = {{SignalPipe[0], POLLIN, 0}, {master, POLLIN, 0}};
    if (fifo >= 0) fds.push_back({fifo, POLLIN, 0});
    if (listener >= 0) fds.push_back({listener, POLLIN, 0});
    for (auto &c : clients) fds.push_back({c.first, POLLIN, 0});
    double wait = 1000;
    const double due = bus.NextDue();
    if (due >= 0) wait = std::min(wait, std::max(0.0, due - now()));
    timespec timeout{time_t(wait / 1000), long(std::fmod(wait, 1000.0) * 1e6)};
    int r = ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (r < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) running = false;
    pumpControl();
    if (fds[1].revents & POLLIN) {
      char buf[1024];
      ssize_t n;
      while ((n = read(master, buf, sizeof buf)) > 0) bus.Receive(std::string(buf, size_t(n)), now());
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      usleep(20000);  // no slave side open for the moment
    }
    for (const std::string &piece : bus.TakeDue(now())) {
      if (write(master, piece.data(), piece.size()) < 0)
        bus.Note(now(), "write failed: " + std::string(std::strerror(errno)));
    }
  }
  if (ownSocket) unlink(o.ControlPath.c_str());
  if (!o.LinkPath.empty()) {
    char target[512];
    ssize_t n = readlink(o.LinkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, size_t(n)) == slavePath) unlink(o.LinkPath.c_str());
  }
  if (log) std::fclose(log);
  return 0;
}
