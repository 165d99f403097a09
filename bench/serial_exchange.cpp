// Exchange of a short command with an echo peer on a pseudo-terminal: time
// from the peer's last reply byte to the cluster being available, and how
// far that lies above the cut rule (n x char delay + extra delay); and the
// worker's CPU time with the port open and idle. Then the same exchanges
// against the simulated controllers at their defaults (bytes paced at 19200
// baud, a few ms of processing time).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "serial/SerialPortNG.h"
#include "support/SimProcess.h"

namespace {
using Clock = std::chrono::steady_clock;

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Answers every command line ending in "\r" with a reply of ReplySize bytes.
struct TEchoPeer {
  int Master = -1;
  std::string SlavePath;
  std::atomic<size_t> ReplySize{10};
  std::atomic<bool> Stop{false};
  std::atomic<int64_t> LastByteNs{0};
  std::thread Thread;
  TEchoPeer() {
    int slave;
    char name[128];
    openpty(&Master, &slave, name, nullptr, nullptr);
    termios t{};
    tcgetattr(Master, &t);
    cfmakeraw(&t);
    tcsetattr(Master, TCSANOW, &t);
    close(slave);
    SlavePath = name;
    Thread = std::thread([this] { Run(); });
  }
  ~TEchoPeer() {
    Stop = true;
    Thread.join();
    close(Master);
  }
  void Run() {
    std::string line;
    while (!Stop) {
      pollfd p{Master, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
      char buf[256];
      ssize_t r = read(Master, buf, sizeof buf);
      if (r <= 0) continue;
      line.append(buf, size_t(r));
      if (line.find('\r') == std::string::npos) continue;
      line.clear();
      std::string reply(ReplySize - 2, 'R');
      reply += "\r\n";
      (void)!write(Master, reply.data(), reply.size());
      LastByteNs =
          std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    }
  }
};

void Measure(TSerialPortNG &port, TEchoPeer &peer, size_t size, int rounds) {
  peer.ReplySize = size;
  std::vector<double> exchange, latency;
  for (int i = 0; i < rounds; ++i) {
    while (port.NextClusterLength() >= 0) port.ReadNextClusterText();
    auto t0 = Clock::now();
    port.SendText("#1 V\r");
    while (port.NextClusterLength() < 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    auto t1 = Clock::now();
    std::string got = port.ReadNextClusterText();
    if (got.size() != size) std::printf("warning: cluster of %zu bytes, expected %zu\n", got.size(), size);
    double endNs =
        double(std::chrono::duration_cast<std::chrono::nanoseconds>(t1.time_since_epoch()).count());
    exchange.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    latency.push_back((endNs - double(peer.LastByteNs)) / 1e6);
  }
  auto mean = [](const std::vector<double> &v) {
    double s = 0;
    for (double x : v) s += x;
    return s / double(v.size());
  };
  double rule = double(size) * port.RTOCharDelayTime() / 1000.0 + port.RTOExtraDelayTime();
  std::printf("exchange_%zuB_reply: %.1f ms\n", size, mean(exchange));
  std::printf("cluster_after_last_byte_%zuB: %.1f ms (max %.1f)\n", size, mean(latency),
              *std::max_element(latency.begin(), latency.end()));
  std::printf("cut_rule_%zuB: %.1f ms\n", size, rule);
  std::printf("above_cut_rule_%zuB: %.1f ms\n", size, mean(latency) - rule);
}
// The port as the program runs it: 19200 baud, no events.
void OpenQuiet(TSerialPortNG &port, const std::string &path) {
  port.SetCommPort(path);
  port.SetBaudRate(19200);
  port.ThreadQuietMode = true;
  port.SetActive(true);
}
// Unknown commands are answered "?": "#1 " + command + " ?\r\n".
void MeasureSim(size_t size, int rounds) {
  TSimProcess sim;
  TSerialPortNG port;
  OpenQuiet(port, sim.SlavePath);
  if (!sim.Started() || !port.Active()) {
    std::printf("sim_exchange_%zuB_reply: failed\n", size);
    return;
  }
  const std::string frame = "#1 " + std::string(size - 7, 'X') + "\r";
  double sum = 0;
  for (int i = 0; i < rounds; ++i) {
    while (port.NextClusterLength() >= 0) port.ReadNextClusterText();
    auto t0 = Clock::now();
    port.SendText(frame);
    while (port.NextClusterLength() < 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    sum += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::string got = port.ReadNextClusterText();
    if (got.size() != size) std::printf("warning: cluster of %zu bytes, expected %zu\n", got.size(), size);
  }
  std::printf("sim_exchange_%zuB_reply: %.1f ms\n", size, sum / rounds);
  port.SetActive(false);
}
}  // namespace

int main() {
  TEchoPeer peer;
  TSerialPortNG port;
  OpenQuiet(port, peer.SlavePath);
  if (!port.Active()) {
    std::printf("error: could not open %s\n", peer.SlavePath.c_str());
    return 1;
  }
  Measure(port, peer, 10, 10);
  Measure(port, peer, 40, 10);
  double c0 = CpuMs();
  auto w0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  double wall = std::chrono::duration<double>(Clock::now() - w0).count();
  std::printf("serial_worker_idle_cpu: %.3f ms/s\n", (CpuMs() - c0) / wall);
  port.SetActive(false);
  MeasureSim(10, 10);
  MeasureSim(40, 10);
  return 0;
}
