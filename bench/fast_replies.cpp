// "Replies end at the line end" off, automatic (what a new user gets: the
// line check of Connect decides) and on, side by side against the paced
// simulator at its defaults (veri-sim next to this program): a short
// exchange through the transport, the poll rate of a long move, and how long
// after the Z axis stands at the bottom (top) the up (down) stroke is
// commanded, beyond the process's own wait of (N + 1) x 100 ms, without and
// with an output channel switched at every step. The times of arrival and
// command come from the simulator's log, one clock for both. Beside each,
// the floor: what the exchanges after an arrival cost at this line speed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Machine.h"
#include "machine/Motion.h"
#include "recipes/Definitions.h"
#include "serial/SerialPortNG.h"
#include "BenchLine.h"
#include "support/SimProcess.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"
#include "veri/Connection.h"
#include "veri/Params.h"
#include "veri/Transport.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TLogLine {
  long Ms;
  std::string Text;
};

std::vector<TLogLine> Log(const TSimProcess &sim) {
  std::vector<TLogLine> out;
  for (const std::string &l : sim.LogLines()) {
    const size_t sp = l.find(' ');
    if (sp != std::string::npos && sp > 0 && isdigit(static_cast<unsigned char>(l[0])))
      out.push_back({std::atol(l.c_str()), l.substr(sp + 1)});
  }
  return out;
}

bool Starts(const std::string &s, const std::string &head) { return s.compare(0, head.size(), head) == 0; }

// The middle one: a sleep that a busy machine overran by half a second
// would otherwise stand for every dip.
double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Mean(const std::vector<double> &v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / double(v.size());
}

// One exchange at 19200 baud (10 bit times a byte) and the simulator's mean
// processing time (3 ms plus 0..4 ms).
double WireMs(const std::string &frame, const std::string &reply) {
  return double(frame.size() + reply.size()) * 10 * 1000.0 / 19200 + 5.0;
}

// After an arrival: the poll that sees the stand, two reads of P1013, the
// position read, the output writes (at the bottom the steps after the down
// and before the up stroke, at the top the step after the up stroke and the
// end, first and down steps of the next dip) and the next move command's
// own bytes (the simulator logs a frame at its CR).
double FloorMs(int writes, const std::string &position) {
  double ms = WireMs("#3 \r", "#3 OK1\r\n") + 2 * WireMs("#3 P1013?\r", "#3 P1013? P1013=4\r\n") +
              WireMs("#3 P51?\r", "#3 P51? P51=" + position + "\r\n");
  ms += writes * WireMs("#3 P1204=0\r", "#3 P1204=0\r\n");
  return ms + std::string("#3 V=1200.0000 WA=10.0000 E\r").size() * 10 * 1000.0 / 19200;
}

void Dips(const TSimProcess &sim, const std::string &tag, const char *process, bool output) {
  const size_t before = Log(sim).size();
  uint16_t error = 0;
  RunProcess(process, 2, 1, error, 1);
  std::vector<double> bottom, top;
  long bottomAt = -1, topAt = -1;
  bool up = false;
  const auto log = Log(sim);
  for (size_t k = before; k < log.size(); ++k) {
    const TLogLine &l = log[k];
    if (l.Text == "== #3 stands at 20") bottomAt = l.Ms;
    if (l.Text == "== #3 stands at 10" && up) topAt = l.Ms, up = false;
    if (Starts(l.Text, "#3 V=") && l.Text.find(" WA=10.0000 E") != std::string::npos && bottomAt >= 0)
      bottom.push_back(double(l.Ms - bottomAt) - 1100), bottomAt = -1, up = true;
    if (Starts(l.Text, "#3 V=") && l.Text.find(" WA=20.0000 E") != std::string::npos && topAt >= 0)
      top.push_back(double(l.Ms - topAt) - 600), topAt = -1;
  }
  const std::string what = output ? "_output" : "";
  std::printf("%s_bottom_to_up_over_wait%s: %.0f ms (floor %.0f ms; mean %.0f ms, %zu dips, error word %u)\n",
              tag.c_str(), what.c_str(), Median(bottom), FloorMs(output ? 2 : 0, "20"), Mean(bottom),
              bottom.size(), error);
  std::printf("%s_top_to_down_over_wait%s: %.0f ms (floor %.0f ms; mean %.0f ms, %zu dips)\n", tag.c_str(),
              what.c_str(), Median(top), FloorMs(output ? 4 : 0, "10"), Mean(top), top.size());
}

void Measure(TFastReplies mode) {
  const char *name = mode == TFastReplies::Off ? "off" : mode == TFastReplies::On ? "on" : "automatic";
  const std::string tag = std::string("fast_replies_") + name;
  TSimProcess sim;
  TSerialPortNG port;
  if (!OpenBenchPort(port, sim, false, tag)) return;
  port.SetFastReplies(mode);
  // Connect (no operator: No to motors and reference run). Automatic judges
  // the line on Connect's own exchanges; off is the same Connect with every
  // reply on the cut rule, what automatic would cost without its check.
  const size_t framesBefore = sim.Frames().size();
  const auto c0 = Clock::now();
  VERICheckConnection();
  const double connectMs = std::chrono::duration<double, std::milli>(Clock::now() - c0).count();
  std::printf("%s_connect: %.0f ms (%zu frames, replies %s)\n", tag.c_str(), connectMs,
              sim.Frames().size() - framesBefore, ReplyRuleText(port).c_str());

  // A 10-byte reply: "#1 XXX\r" is answered "#1 XXX ?\r\n".
  const double wire = (7 + 10) * 10 * 1000.0 / 19200;
  std::vector<double> exchange, processing;
  for (int i = 0; i < 20; ++i) {
    const auto t0 = Clock::now();
    SerialTalk("#1 XXX\r");
    exchange.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    const auto log = Log(sim);
    for (size_t k = log.size(); k-- > 1;)
      if (Starts(log[k].Text, "-> ") && log[k - 1].Text == "#1 XXX") {
        processing.push_back(double(log[k].Ms - log[k - 1].Ms));
        break;
      }
  }
  std::printf("%s_exchange_10B_reply: %.1f ms (wire %.1f ms, processing %.1f ms, %.1f ms above both)\n",
              tag.c_str(), Mean(exchange), wire, Mean(processing), Mean(exchange) - wire - Mean(processing));

  // A long move of X: status polls per second.
  BenchMotorsOn();
  for (uint8_t a = 1; a <= 3; ++a) Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
  const size_t before = Log(sim).size();
  bool ok = false;
  const auto m0 = Clock::now();
  MoveTo(1, ok, 2, 11);  // 10 cm at 2 cm/s
  const double secs = std::chrono::duration<double>(Clock::now() - m0).count();
  const auto afterMove = Log(sim);
  long polls = 0;
  for (size_t k = before; k < afterMove.size(); ++k) polls += afterMove[k].Text == "#1 ";
  std::printf("%s_move_poll_rate: %.1f cycles/s (ok %d, %.2f s, %ld polls)\n", tag.c_str(), polls / secs,
              ok ? 1 : 0, secs, polls);

  // Four dips, 1 cm strokes, T low 1.00 s and T up 0.50 s; then the same
  // with output channel 2 (Z controller, pin 4) written at every step.
  Dips(sim, tag, "Bench", false);
  Dips(sim, tag, "BenchOut", true);
  VeriPort() = nullptr;
  port.SetActive(false);
}

}  // namespace

int main() {
  AppendProcess(BenchProcess(4));
  TProcEntry out = BenchProcess(4);
  out.Name = "BenchOut";
  out.ChNo = 2;
  out.ChMode = 1;
  AppendProcess(out);
  DigOutCount = 4;
  DigOutTable[2].Address = 3;
  DigOutTable[2].Pin = 4;
  Measure(TFastReplies::Off);
  Measure(TFastReplies::Automatic);
  Measure(TFastReplies::On);
  return 0;
}
