// The real veri-sim program over its pseudo-terminal, with plain POSIX calls.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "support/SimProcess.h"

namespace {

// Reads until CR LF or until ms pass without one.
std::string ReadReply(int fd, int ms) {
  std::string got;
  while (got.size() < 2 || got.compare(got.size() - 2, 2, "\r\n") != 0) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) break;
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, size_t(n));
  }
  return got;
}

std::string Exchange(int fd, const std::string &frame, int ms = 2000) {
  if (write(fd, frame.data(), frame.size()) != ssize_t(frame.size())) return "<write failed>";
  return ReadReply(fd, ms);
}

}  // namespace

TEST(SimBinary, AnswersOverThePtyAndTakesControlCommands) {
  std::string link = "/tmp/kv-sim-link-" + std::to_string(getpid());
  unlink(link.c_str());
  TSimProcess sim({"--axes", "1,3", "--link", link});
  ASSERT_TRUE(sim.Started());
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(sim.SlavePath, target);

  int fd = open(sim.SlavePath.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio{};
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);

  EXPECT_EQ(Exchange(fd, "#1 VER\r"), "#1 VER VERISIM_1.0\r\n");
  EXPECT_EQ(Exchange(fd, "#3 P403?\r"), "#3 P403? P403=5\r\n");
  EXPECT_EQ(Exchange(fd, "#2 VER\r", 200), "");  // not on the line
  ASSERT_TRUE(sim.Control("wrongaddr 1 2 1"));
  EXPECT_EQ(Exchange(fd, "#1 VER\r"), "#2 VER VERISIM_1.0\r\n");
  ASSERT_TRUE(sim.Control("estop 3 press"));
  EXPECT_EQ(Exchange(fd, "#3 P1013?\r"), "#3 P1013? P1013=0\r\n");
  close(fd);

  std::vector<std::string> frames;
  for (auto &l : sim.LogLines()) {
    auto sp = l.find(' ');
    if (sp != std::string::npos && l.compare(sp + 1, 1, "#") == 0) frames.push_back(l.substr(sp + 1));
  }
  EXPECT_EQ(frames, (std::vector<std::string>{"#1 VER", "#3 P403?", "#2 VER", "#1 VER", "#3 P1013?"}));
  sim.Stop();
  EXPECT_NE(access(link.c_str(), F_OK), 0);  // the link goes with the simulator
}

