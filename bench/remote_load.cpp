// The remote server's cost to the robot's timing: the dip cycle of
// dip_cycle.cpp (veri-sim, three dips) with the server on and no client,
// then with 10 clients polling /api/status at 10 Hz and 5 WebSocket clients,
// then under a flood of 40 sockets that each send one header line and wait
// (reconnecting when dropped) while one client polls the status at 10 Hz;
// the holds at the bottom and top against their nominal, for each. And the
// CPU the server takes while nobody asks.
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BenchLine.h"
#include "base/Host.h"
#include "remote/RemoteServer.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The window's pump: the server answers inside the process's waits, as in
// the program.
class TPump : public IEventPump {
public:
  void ProcessMessages() override { QCoreApplication::processEvents(); }
};

// Notes each output step's time and tells the page of each dip.
class TSteps : public IReportSink {
public:
  std::vector<std::pair<int, double>> Steps;
  int Dip = 0;
  void AppendLine(const std::string &line) override {
    const std::string head = "$ ChMode, ProcAction, ChNumber, Action:";
    if (line.compare(0, head.size(), head) != 0) return;
    const size_t a = line.find("; ");
    if (a == std::string::npos) return;
    const int step = std::atoi(line.c_str() + a + 2);
    Steps.emplace_back(step, Now());
    if (step == 1) {
      TRunEvent e;
      e.Kind = TRunEventKind::DipStarted;
      e.Process = "Bench";
      e.Dip = ++Dip;
      e.Dips = 3;
      SendRunEvent(e);
    }
  }
};

int Connect(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  timeval t{0, 200000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  return fd;
}

struct TLoad {
  std::atomic<bool> Stop{false};
  std::atomic<int> Answers{0}, Frames{0};
  std::vector<std::thread> Threads;
  TLoad(uint16_t port, int pollers, int sockets) {
    for (int i = 0; i < pollers; ++i)
      Threads.emplace_back([this, port] {
        auto next = std::chrono::steady_clock::now();
        while (!Stop) {
          const int fd = Connect(port);
          const std::string req = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
          if (fd >= 0 && send(fd, req.data(), req.size(), 0) > 0) {
            char buf[4096];
            while (recv(fd, buf, sizeof buf, 0) > 0) {}
            ++Answers;
          }
          if (fd >= 0) close(fd);
          next += std::chrono::milliseconds(100);
          std::this_thread::sleep_until(next);
        }
      });
    for (int i = 0; i < sockets; ++i)
      Threads.emplace_back([this, port] {
        const int fd = Connect(port);
        const std::string req =
            "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
            "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        if (fd < 0 || send(fd, req.data(), req.size(), 0) <= 0) return;
        char buf[4096];
        while (!Stop) {
          const ssize_t n = recv(fd, buf, sizeof buf, 0);
          if (n == 0) break;
          if (n > 0) ++Frames;  // pieces of frames: enough to see them flow
        }
        close(fd);
      });
  }
  ~TLoad() {
    Stop = true;
    for (auto &t : Threads) t.join();
  }
};

// 40 sockets from this address that each send one header line and wait;
// one the server drops is opened again at once. Beside them one client
// polls /api/status at 10 Hz and counts what it got.
struct TFlood {
  static constexpr int Sockets = 40;
  std::atomic<bool> Stop{false};
  std::atomic<int> Served{0}, Failed{0}, Reopened{0};
  std::vector<double> Took;  // ms from connect to the answer's end, read after the threads end
  std::vector<std::thread> Threads;
  explicit TFlood(uint16_t port) {
    Threads.emplace_back([this, port] {
      const std::string line = "GET /api/status HTTP/1.1\r\n";
      std::vector<pollfd> fds(Sockets);
      auto open = [&](pollfd &p) {
        p.fd = Connect(port);
        p.events = POLLIN;
        if (p.fd >= 0) send(p.fd, line.data(), line.size(), MSG_NOSIGNAL);
      };
      for (pollfd &p : fds) open(p);
      while (!Stop) {
        if (poll(fds.data(), fds.size(), 50) <= 0) continue;
        for (pollfd &p : fds) {
          if (!p.revents) continue;
          char buf[512];
          if (p.fd < 0 || recv(p.fd, buf, sizeof buf, MSG_DONTWAIT) > 0) continue;
          if (p.fd >= 0) close(p.fd);
          open(p);
          ++Reopened;
        }
      }
      for (pollfd &p : fds)
        if (p.fd >= 0) close(p.fd);
    });
    Threads.emplace_back([this, port] {
      auto next = std::chrono::steady_clock::now();
      while (!Stop) {
        const double t0 = Now();
        const int fd = Connect(port);
        timeval patience{3, 0};  // a browser's patience, not the load clients' 200 ms
        if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        const std::string req = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
        std::string got;
        if (fd >= 0 && send(fd, req.data(), req.size(), MSG_NOSIGNAL) > 0) {
          char buf[4096];
          for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) got.append(buf, size_t(n));
        }
        if (fd >= 0) close(fd);
        ++(got.compare(0, 12, "HTTP/1.1 200") == 0 ? Served : Failed);
        Took.push_back((Now() - t0) * 1000);
        next += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(next);
      }
    });
  }
  ~TFlood() {
    Stop = true;
    for (auto &t : Threads) t.join();
  }
};

// One three-dip process; the mean and worst of the holds above nominal (ms).
void Cycle(const char *tag, TSteps &steps) {
  steps.Steps.clear();
  uint16_t error = 0;
  RunProcess("Bench", 2, 1, error, 1);
  double at3 = 0, at5 = 0, sum = 0, worst = 0;
  int n = 0;
  std::vector<double> all;
  for (auto &[step, at] : steps.Steps) {
    if (step == 3) at3 = at;
    if (step == 5) at5 = at;
    if (step != 4 && step != 6) continue;
    const double over = step == 4 ? at - at3 - 1.1 : at - at5 - 0.6;
    all.push_back(over * 1000);
    sum += over * 1000;
    worst = std::max(worst, over * 1000);
    ++n;
  }
  std::sort(all.begin(), all.end());
  std::printf("remote_dip_holds_over_nominal_%s: %.1f ms (median %.1f, max %.1f, %d holds, error word %u)\n",
              tag, n ? sum / n : 0, n ? all[all.size() / 2] : 0, worst, n, error);
}

}  // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  TRunWatch watch;
  TRemoteSettings settings;
  settings.Token = NewRemoteToken();
  TRemoteServer server(watch, settings);
  std::string why;
  if (!server.Start(why)) {
    std::printf("remote_load: failed (%s)\n", why.c_str());
    return 1;
  }
  {
    const double c0 = CpuSeconds(), w0 = Now();
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = CpuSeconds() - c0, wall = Now() - w0;
    std::printf("idle_cpu_remote_server: %.2f %%core (%.3f s CPU in %.2f s, no client)\n", 100 * cpu / wall,
                cpu, wall);
  }

  TSimProcess sim;
  TSerialPortNG port;
  if (!OpenBenchPort(port, sim, false, "remote_load")) return 1;
  TSteps steps;
  TPump pump;
  Host().Report = &steps;
  Host().Events = &pump;
  ReportLevel = 2;
  BenchMotorsOn();
  AppendBenchProcess(3);

  Cycle("no_clients", steps);
  {
    TLoad load(server.Port(), 10, 5);
    Cycle("10_pollers_5_websockets", steps);
    std::printf("remote_load_served: %d status answers, %d WebSocket reads, %d WebSockets open\n",
                load.Answers.load(), load.Frames.load(), server.WebSocketCount());
  }
  Cycle("no_clients_again", steps);
  {
    auto flood = std::make_unique<TFlood>(server.Port());
    Cycle("slow_header_flood", steps);
    flood->Stop = true;
    for (auto &t : flood->Threads) t.join();
    flood->Threads.clear();
    std::vector<double> &took = flood->Took;
    std::sort(took.begin(), took.end());
    std::printf("remote_flood: %d status answers to the well-behaved client (median %.0f ms, max %.0f), %d failed, "
                "%d flood sockets reopened\n",
                flood->Served.load(), took.empty() ? 0 : took[took.size() / 2], took.empty() ? 0 : took.back(),
                flood->Failed.load(), flood->Reopened.load());
  }
  Host() = THost();
  VeriPort() = nullptr;
  port.SetActive(false);
  return 0;
}
