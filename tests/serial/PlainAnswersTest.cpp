// What the operator reads when the real port will not work: the device and
// the fix named in one line, and no exchange waiting on a line that is gone.
#include <gtest/gtest.h>
#include <memory>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PtyPeer.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"
#include "veri/Transport.h"

TEST(PlainAnswers, MissingDeviceNoPermissionAndHeldDevice) {
  THostFixture host(1);
  TSerialPortNG port;
  port.SetCommPort("/dev/ttyUSB97");
  port.SetActive(true);
  EXPECT_TRUE(
      host.Report.HasPrefix("*** Serial port /dev/ttyUSB97: Error reopening Port (place 112, code 2"));
  EXPECT_TRUE(
      host.Report.HasPrefix("*** Error /dev/ttyUSB97 does not exist; serial devices here: /dev/tty") ||
      host.Report.Has(
          "*** Error /dev/ttyUSB97 does not exist; no serial device found (is the adapter plugged in?)"))
      << host.Report.Joined();

  // Opened as the user nobody (root's file access bypasses modes).
  TPtyPeer peer;
  ::chmod(peer.SlavePath.c_str(), 0);
  port.SetCommPort(peer.SlavePath);
  ::setfsgid(65534), ::setfsuid(65534);
  port.SetActive(true);
  ::setfsuid(::getuid()), ::setfsgid(::getgid());
  EXPECT_FALSE(port.Active());
  EXPECT_TRUE(host.Report.Has("*** Error " + peer.SlavePath +
                              ": permission denied; add yourself to the group dialout and log in again"))
      << host.Report.Joined();

  ::chmod(peer.SlavePath.c_str(), 0600);
  TSerialPortNG other;
  other.SetCommPort(peer.SlavePath);
  other.SetActive(true);
  ASSERT_TRUE(other.Active());
  port.SetActive(true);
  EXPECT_FALSE(port.Active());
  EXPECT_TRUE(host.Report.HasPrefix("*** Error " + peer.SlavePath +
                                    " is in use by another program, test_serial (pid "))
      << host.Report.Joined();
}

TEST(PlainAnswers, UnpluggedAdapterIsSaidOnceFailsFastAndReopensWhenBack) {
  THostFixture host(1);
  char dir[] = "/tmp/kv-unplug-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/ttyUSB0";
  auto peer = std::make_unique<TPtyPeer>();
  ASSERT_EQ(::symlink(peer->SlavePath.c_str(), link.c_str()), 0);
  TSerialPortNG port;
  port.ThreadQuietMode = true;  // as in the program
  port.SetCommPort(link);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());
  VeriPort() = &port;
  // Pulled out while the exchange waits for its reply.
  host.Clock.OnSleep = [&] {
    if (peer) peer.reset(), ::unlink(link.c_str());
  };
  EXPECT_EQ(SerialTalk("#1 V\r"), "*** SerialTalk: TimeOut  ");
  EXPECT_TRUE(WaitUntil(port, [&] { return port.LineDown(); }));
  const uint64_t slept = host.Clock.Slept;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(SerialTalk("#1 V\r"), "*** SerialTalk: TimeOut  ");
  EXPECT_EQ(host.Clock.Slept, slept);  // no second of waiting per command
  size_t said = 0;
  for (const std::string &l : host.Report.Lines)
    said += l == "*** Error " + link + " is gone (adapter unplugged?); plug it back in and press Connect";
  EXPECT_EQ(said, 1u) << host.Report.Joined();

  TPtyPeer back;  // plugged in again
  ASSERT_EQ(::symlink(back.SlavePath.c_str(), link.c_str()), 0);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());
  SerialCall("#1 V\r");
  EXPECT_TRUE(WaitUntil(port, [&] { return back.ReadAvailable() == "#1 V\r"; }));
  VeriPort() = nullptr;
  ::unlink(link.c_str()), ::rmdir(dir);
}
