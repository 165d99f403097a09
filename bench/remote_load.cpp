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
#include "DipHolds.h"
#include "base/Host.h"
#include "remote/RemoteServer.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

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
        const double t0 = BenchNow();
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
        Took.push_back((BenchNow() - t0) * 1000);
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
    const double c0 = CpuSeconds(), w0 = BenchNow();
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = CpuSeconds() - c0, wall = BenchNow() - w0;
    std::printf("idle_cpu_remote_server: %.2f %%core (%.3f s CPU in %.2f s, no client)\n", 100 * cpu / wall,
                cpu, wall);
  }

  TDipHoldsBench bench;
  if (!bench.Open("remote_load")) return 1;
  TDipSteps &steps = bench.Steps;

  DipHoldsLine("remote_dip_holds_over_nominal", "no_clients", steps);
  {
    TLoad load(server.Port(), 10, 5);
    DipHoldsLine("remote_dip_holds_over_nominal", "10_pollers_5_websockets", steps);
    std::printf("remote_load_served: %d status answers, %d WebSocket reads, %d WebSockets open\n",
                load.Answers.load(), load.Frames.load(), server.WebSocketCount());
  }
  DipHoldsLine("remote_dip_holds_over_nominal", "no_clients_again", steps);
  {
    auto flood = std::make_unique<TFlood>(server.Port());
    DipHoldsLine("remote_dip_holds_over_nominal", "slow_header_flood", steps);
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
  bench.Port.SetActive(false);
  return 0;
}
