// The serial port on a pseudo-terminal: what the far end receives, the
// clusters a reply is cut into, and a worker that neither hangs nor spins.
#include <cerrno>
#include <gtest/gtest.h>
#include <time.h>

#include "PtyPeer.h"
#include "serial/SerialLine.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"

namespace {
double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
}  // namespace

TEST(SerialPort, DevicePathsAndAMissingDeviceInTheLog) {
  EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath("COM4"), "/dev/ttyS3");
  EXPECT_EQ(SerialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
  THostFixture host(1);
  TSerialPortNG port;
  port.SetCommPort("/dev/kavetra-no-such-tty");
  port.SetActive(true);
  EXPECT_FALSE(port.Active());
  EXPECT_TRUE(host.Report.HasPrefix("*** Serial port /dev/kavetra-no-such-tty: Error reopening Port (place 112"))
      << host.Report.Joined();
  EXPECT_FALSE(host.Report.HasPrefix("$"));  // progress traces hidden at level 1
}

TEST(SerialPort, AppliesSettingsSendsAndCutsRepliesIntoClusters) {
  TPtyPeer peer;
  TSerialPortNG port;
  port.ThreadQuietMode = true;
  port.SetCommPort(peer.SlavePath);
  port.SetBaudRate(115000);
  port.SetStopBits(2);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());
  TLineSettings held;
  ASSERT_EQ(LineRead(int(port.ComHandle()), held), 0);
  EXPECT_EQ(held.BaudRate, 115000u);
  EXPECT_EQ(held.StopBits, 2);
  port.SetBaudRate(19200);
  EXPECT_EQ(port.RTOCharDelayTime(), 570u);
  port.SendText("#1 V\r");
  EXPECT_TRUE(WaitUntil(port, [&] { return peer.ReadAvailable() == "#1 V\r"; }));

  // 10 bytes are due 255.7 ms after the last; a reply split in time stays whole.
  peer.Write("#1 V 1");
  RealSleep(40);
  peer.Write(".0\r\n");
  RealSleep(120);
  EXPECT_EQ(port.NextClusterLength(), -1);  // still in the driver
  ASSERT_TRUE(WaitUntil(port, [&] { return port.NextClusterLength() >= 0; }));
  EXPECT_EQ(port.NextClusterLength(), 10);
  EXPECT_EQ(port.NextClusterCCError(), 0);
  EXPECT_EQ(port.ReadNextClusterText(), "#1 V 1.0\r\n");
  EXPECT_EQ(port.NextClusterLength(), -1);
  EXPECT_EQ(port.ReadNextClusterText(), "");

  port.SetActive(false);
  EXPECT_EQ(port.ComHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(port.DTRState());
}

TEST(SerialPort, HungUpLineDoesNotSpinAndSaysSoOnce) {
  TPtyPeer peer;
  TSerialPortNG port;
  std::vector<uint32_t> places;
  port.OnProcessError = [&](TSerialPortNG *, uint32_t place, uint32_t, const std::string &, uint8_t) {
    places.push_back(place);
  };
  port.SetCommPort(peer.SlavePath);
  port.SetActive(true);
  peer.CloseMaster();
  WaitUntil(port, [] { return false; }, 100);
  const double cpu0 = ProcessCpuMs();
  WaitUntil(port, [] { return false; }, 600);
  EXPECT_LT(ProcessCpuMs() - cpu0, 150.0);  // a spinning worker would burn the whole 600 ms
  size_t hangups = 0;
  for (uint32_t pl : places) hangups += pl == 9911 || pl == 9804;
  EXPECT_GE(hangups, 1u);
  EXPECT_LE(hangups, 2u);
}
