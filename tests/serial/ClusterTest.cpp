#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <time.h>

#include "PtyPeer.h"
#include "serial/SerialPortNG.h"

namespace {
// An open port on a fresh pty with the program's timing (19200 baud, 570 us).
struct TOpenPort {
  TPtyPeer Peer;
  TSerialPortNG Port;
  explicit TOpenPort(bool quiet = true) {
    Port.SetCommPort(Peer.SlavePath);
    Port.SetBaudRate(19200);
    Port.ThreadQuietMode = quiet;
    Port.SetActive(true);
  }
  bool HasCluster(uint32_t ms = 1500) {
    return WaitUntil(Port, [&] { return Port.NextClusterLength() >= 0; }, ms);
  }
};

double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
}  // namespace

TEST(Clusters, ShortReplyIsOneClusterAfterTheCutTimeAndNotBefore) {
  TOpenPort p;
  ASSERT_TRUE(p.Port.Active());
  EXPECT_EQ(p.Port.RTOCharDelayTime(), 570u);
  p.Peer.Write("#1 V 1.0\r\n");  // 10 bytes: due after 255.7 ms
  RealSleep(120);
  EXPECT_EQ(p.Port.NextClusterLength(), -1);  // still in the driver
  ASSERT_TRUE(p.HasCluster());
  EXPECT_EQ(p.Port.NextClusterLength(), 10);
  EXPECT_EQ(p.Port.NextClusterCCError(), 0);
  EXPECT_EQ(p.Port.ReadNextClusterText(), "#1 V 1.0\r\n");
  EXPECT_EQ(p.Port.NextClusterLength(), -1);
  EXPECT_EQ(p.Port.ReadNextClusterText(), "");
}

TEST(Clusters, ReplySplitInTimeStaysWholeAndSeparateRepliesDoNot) {
  TOpenPort p;
  p.Port.SetRTOExtraDelayTime(150);
  p.Peer.Write("#3 P");
  RealSleep(40);
  p.Peer.Write(std::string("51 12\0\r", 7));  // NUL kept as it is
  ASSERT_TRUE(p.HasCluster());
  EXPECT_EQ(p.Port.ReadNextClusterText(), std::string("#3 P51 12\0\r", 11));
}

TEST(Clusters, ReadRequestAndClusterSizeCutAtOnce) {
  TOpenPort p;
  p.Port.SetRTOExtraDelayTime(30000);  // the time rule alone would never cut here
  p.Peer.Write("abc");
  RealSleep(30);
  p.Port.SetReadRequest(true);
  ASSERT_TRUE(p.HasCluster(1000));
  EXPECT_EQ(p.Port.ReadNextClusterText(), "abc");
  EXPECT_FALSE(p.Port.ReadRequest());
}


TEST(Sending, EmptyTextSendsNothingAndASecondWriteWaitsForTheFirst) {
  TOpenPort p(false);
  p.Port.SetActive(false);  // handlers are assigned while closed
  std::vector<uint32_t> places;
  int writesDone = 0;
  p.Port.OnProcessError = [&](TSerialPortNG *, uint32_t place, uint32_t, const std::string &, uint8_t) {
    places.push_back(place);
  };
  p.Port.OnWriteDone = [&](TSerialPortNG *) { ++writesDone; };
  p.Port.SetActive(true);
  p.Port.SendText("");
  EXPECT_EQ(writesDone, 0);
  p.Port.SendText("#1 V\r");  // finishes at once, in this thread
  EXPECT_EQ(writesDone, 1);
  EXPECT_FALSE(p.Port.SendInProgress());
  EXPECT_EQ(p.Port.WrittenBytes(), 5u);
  EXPECT_EQ(p.Peer.ReadAvailable(), "#1 V\r");

  // More than the pty takes while nobody reads: the write stays outstanding.
  std::string block(1 << 20, 'q');
  p.Port.SendText(block);
  ASSERT_TRUE(p.Port.SendInProgress());
  p.Port.SendText("lost");
  EXPECT_EQ(places.back(), 901u);
  std::string got;
  ASSERT_TRUE(WaitUntil(p.Port, [&] {
    got += p.Peer.ReadAvailable();
    return !p.Port.SendInProgress() && writesDone == 2;
  }, 5000));
  got += p.Peer.ReadAvailable();
  EXPECT_EQ(got.size(), block.size());
  EXPECT_EQ(got.find('l'), std::string::npos);
  EXPECT_EQ(p.Port.WrittenBytes(), block.size());
  EXPECT_EQ(writesDone, 2);  // the worker's, run here through the hand-over
}

TEST(Sending, WriteTimeOutCutsAStuckWriteShort) {
  TOpenPort p(false);
  p.Port.SetActive(false);
  std::vector<std::pair<uint32_t, uint32_t>> reports;
  p.Port.OnProcessError = [&](TSerialPortNG *, uint32_t place, uint32_t code, const std::string &, uint8_t) {
    reports.push_back({place, code});
  };
  p.Port.SetXTOAuto(false);
  p.Port.SetWTOCharDelayTime(0);
  p.Port.SetWTOExtraDelayTime(100);
  p.Port.SetActive(true);
  std::string block(1 << 20, 'w');
  p.Port.SendText(block);
  ASSERT_TRUE(p.Port.SendInProgress());
  ASSERT_TRUE(WaitUntil(p.Port, [&] { return !p.Port.SendInProgress(); }));
  ASSERT_TRUE(WaitUntil(p.Port, [&] { return !reports.empty() && reports.back().first == 9701u; }));
  EXPECT_LT(p.Port.WrittenBytes(), block.size());
  EXPECT_EQ(reports.back().second, p.Port.WrittenBytes());
  // Quiet, as the program runs it: the next write starts the moment the
  // worker gives the last one up (a race the thread sanitizer finds).
  p.Port.ThreadQuietMode = true;
  for (int i = 0; i < 2; ++i) {
    p.Port.SendText(block);
    ASSERT_TRUE(WaitUntil(p.Port, [&] { return !p.Port.SendInProgress(); }));
  }
}


TEST(Worker, ClosingAndDestroyingNeverWaitOnAnUndrainedHandOver) {
  // Nobody runs the queued calls: the worker is blocked on a hand-over when
  // the port is closed, and again when the component goes.
  auto *p = new TOpenPort(false);
  p->Port.SetActive(false);
  std::vector<uint32_t> places;
  p->Port.OnProcessError = [&](TSerialPortNG *, uint32_t place, uint32_t, const std::string &, uint8_t) {
    places.push_back(place);
  };
  p->Port.OnRxCharEvent = [](TSerialPortNG *) {};
  p->Port.SetRTOExtraDelayTime(10);
  p->Port.SetActive(true);
  p->Peer.Write("a");
  RealSleep(100);  // the worker now waits for the main thread
  p->Port.SetActive(false);
  EXPECT_FALSE(p->Port.Active());
  for (uint32_t pl : places) EXPECT_NE(pl, 104u);  // it let go at once
  p->Port.SetActive(true);
  p->Peer.Write("b");
  RealSleep(100);
  delete p;  // returns: the worker stops although a call is pending
  SUCCEED();
}

TEST(Worker, DestroyedWithAnOutstandingWrite) {
  auto *p = new TOpenPort(true);
  p->Port.SendText(std::string(1 << 20, 'd'));
  EXPECT_TRUE(p->Port.SendInProgress());
  delete p;
  SUCCEED();
}

TEST(Worker, HungUpLineDoesNotSpinAndSaysSoOnce) {
  TOpenPort p(false);
  p.Port.SetActive(false);
  std::vector<uint32_t> places;
  p.Port.OnProcessError = [&](TSerialPortNG *, uint32_t place, uint32_t, const std::string &, uint8_t) {
    places.push_back(place);
  };
  p.Port.SetActive(true);
  p.Peer.CloseMaster();
  WaitUntil(p.Port, [] { return false; }, 100);
  double cpu0 = ProcessCpuMs();
  WaitUntil(p.Port, [] { return false; }, 600);
  double cpu = ProcessCpuMs() - cpu0;
  EXPECT_LT(cpu, 150.0);  // a spinning worker would burn the whole 600 ms
  size_t hangups = 0;
  for (uint32_t pl : places) hangups += pl == 9911 || pl == 9804;
  EXPECT_GE(hangups, 1u);
  EXPECT_LE(hangups, 2u);
  EXPECT_TRUE(p.Port.Active());
}

