#include <cerrno>
#include <unistd.h>
#include <gtest/gtest.h>
#include <vector>

#include "PtyPeer.h"
#include "serial/SerialLine.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"

namespace {
struct TReport {
  uint32_t Place, Code;
  std::string Msg;
  uint8_t Noise;
};

struct TRecorder {
  std::vector<TReport> Reports;
  void Attach(TSerialPortNG &port) {
    port.OnProcessError = [this](TSerialPortNG *, uint32_t place, uint32_t code, const std::string &msg,
                                 uint8_t noise) { Reports.push_back({place, code, msg, noise}); };
  }
  const TReport *Find(uint32_t place) const {
    for (const auto &r : Reports)
      if (r.Place == place) return &r;
    return nullptr;
  }
  size_t Count(uint32_t place) const {
    size_t n = 0;
    for (const auto &r : Reports) n += r.Place == place;
    return n;
  }
};
}  // namespace

TEST(SerialLine, DevicePathsAndMissingDevice) {
  EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(SerialDevicePath("/" + std::string(100, 'x')).size(), 79u);
  int fd = 0;
  EXPECT_EQ(LineOpen("/dev/kavetra-no-such-tty", fd), ENOENT);
  EXPECT_EQ(fd, -1);
}

TEST(SerialLine, AppliesRatesStopBitsAndFlowAndRefusesWhatItCannot) {
  TPtyPeer peer;
  ASSERT_FALSE(peer.SlavePath.empty());
  int fd = -1;
  ASSERT_EQ(LineOpen(peer.SlavePath, fd), 0);
  TLineSettings s, back;
  for (uint32_t baud : {19200u, 115000u, 14400u, 56000u, 128000u, 256000u, 110u}) {
    s.BaudRate = baud;
    EXPECT_EQ(LineApply(fd, s), 0) << baud;
    ASSERT_EQ(LineRead(fd, back), 0);
    EXPECT_EQ(back.BaudRate, baud);
  }
  s.StopBits = 2;
  s.FlowControl = fcRtsCts;
  EXPECT_EQ(LineApply(fd, s), 0);
  LineRead(fd, back);
  EXPECT_EQ(back.StopBits, 2);
  EXPECT_EQ(back.FlowControl, fcRtsCts);
  // What the tty cannot do is refused, but the rest still takes effect.
  s = TLineSettings{};
  s.DataBits = 4;
  s.BaudRate = 38400;
  EXPECT_EQ(LineApply(fd, s), EINVAL);
  LineRead(fd, back);
  EXPECT_EQ(back.BaudRate, 38400u);
  s.DataBits = 8;
  s.StopBits = 1;
  EXPECT_EQ(LineApply(fd, s), EINVAL);
  s.StopBits = 0;
  s.FlowControl = fcDsrDtr;
  EXPECT_EQ(LineApply(fd, s), EINVAL);
  LineClose(fd);
}


TEST(SerialPort, LimitWarningsQueueSizesAndNoiseFilter) {
  TSerialPortNG port;
  TRecorder rec;
  rec.Attach(port);
  port.SetXONLimDiv(150);
  EXPECT_EQ(port.XONLimDiv(), 100);
  ASSERT_EQ(rec.Count(100), 1u);
  EXPECT_EQ(rec.Reports[0].Code, 150u);
  EXPECT_EQ(rec.Reports[0].Noise, 1);
  EXPECT_EQ(rec.Reports[0].Msg, "Warning XOnLimDef set to 100");
  port.SetXONLimDiv(150);  // differs from the stored 100
  EXPECT_EQ(rec.Count(100), 2u);

  rec.Reports.clear();
  port.SetErrorNoise(0);
  port.SetXONLimDiv(200);  // a warning: filtered
  port.SetCommPort("/dev/kavetra-no-such-tty");
  port.SetActive(true);  // only the errors pass: 112 and its plain answer 113
  ASSERT_EQ(rec.Reports.size(), 2u);
  EXPECT_EQ(rec.Reports[0].Place, 112u);
  EXPECT_EQ(rec.Reports[0].Code, uint32_t(ENOENT));
  EXPECT_EQ(rec.Reports[0].Msg, "Error reopening Port");
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(port.ComHandle(), INVALID_HANDLE_VALUE);
}

TEST(SerialPort, CharDelaysFollowTheBaudRate) {
  TSerialPortNG port;
  struct { uint32_t Baud, Delay; } cases[] = {
      {19200, 570}, {115200, 95}, {115000, 190}, {9600, 1100}, {50, 1100}, {256000, 43}, {110, 100000}};
  for (auto c : cases) {
    port.SetBaudRate(c.Baud);
    EXPECT_EQ(port.RTOCharDelayTime(), c.Delay) << c.Baud;
    EXPECT_EQ(port.WTOCharDelayTime(), c.Delay) << c.Baud;
  }
  port.SetXTOAuto(false);
  port.SetBaudRate(19200);
  EXPECT_EQ(port.RTOCharDelayTime(), 100000u);
  port.SetXTOAuto(true);
  EXPECT_EQ(port.RTOCharDelayTime(), 570u);
  EXPECT_EQ(port.WTOCharDelayTime(), 570u);
}

TEST(SerialPort, WithoutHandlerReportsGoToTheLog) {
  THostFixture host(1);
  TSerialPortNG port;
  port.SetCommPort("/dev/kavetra-no-such-tty");
  port.SetActive(true);
  EXPECT_TRUE(host.Report.HasPrefix("*** Serial port /dev/kavetra-no-such-tty: Error reopening Port (place 112, code 2"))
      << host.Report.Joined();
  EXPECT_FALSE(host.Report.HasPrefix("$"));  // progress traces hidden at level 1
}

TEST(SerialPort, OpensRaisesLinesAppliesSettingsAndCloses) {
  TPtyPeer peer;
  TSerialPortNG port;
  TRecorder rec;
  rec.Attach(port);
  port.SetCommPort(peer.SlavePath);  // closed: only stored
  EXPECT_TRUE(rec.Reports.empty());
  port.SetBaudRate(115000);
  port.SetStopBits(2);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());
  ASSERT_NE(rec.Find(110), nullptr);
  EXPECT_EQ(rec.Find(110)->Msg, "Msg start reactivating Port");
  EXPECT_EQ(rec.Find(110)->Noise, 2);
  TLineSettings held;
  ASSERT_EQ(LineRead(int(port.ComHandle()), held), 0);
  EXPECT_EQ(held.BaudRate, 115000u);
  EXPECT_EQ(held.StopBits, 2);



  // A setting the tty cannot do: 802 with EINVAL, the rest taken, port still up.
  port.SetDataBits(4);
  port.SetBaudRate(9600);
  const TReport *r = rec.Find(802);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Code, uint32_t(EINVAL));
  EXPECT_EQ(r->Msg, "Error setting CommState, 87 indicate that Parms are incorrect");
  LineRead(int(port.ComHandle()), held);
  EXPECT_EQ(held.BaudRate, 9600u);
  EXPECT_TRUE(port.Active());
  port.SendText("#1 V\r");
  EXPECT_TRUE(WaitUntil(port, [&] { return peer.ReadAvailable() == "#1 V\r"; }));

  port.SetActive(false);
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(port.ComHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(port.DTRState());
  EXPECT_FALSE(port.RTSState());
  EXPECT_NE(rec.Find(100), nullptr);
  EXPECT_EQ(rec.Find(104), nullptr);  // the worker wound down in time
  EXPECT_EQ(rec.Find(103), nullptr);

  // Sending on a closed port fails as a write on an invalid handle.
  rec.Reports.clear();
  port.SendText("x");
  ASSERT_EQ(rec.Reports.size(), 2u);
  EXPECT_EQ(rec.Reports[0].Place, 902u);
  EXPECT_EQ(rec.Reports[1].Place, 903u);
  EXPECT_EQ(rec.Reports[1].Code, uint32_t(EBADF));

}

TEST(SerialPort, CommPortChangeWhileOpenReopensUnderTheNewName) {
  TPtyPeer a, b;
  TSerialPortNG port;
  port.SetCommPort(a.SlavePath);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());
  port.SetCommPort(b.SlavePath);
  ASSERT_TRUE(port.Active());
  port.SendText("hi");
  EXPECT_TRUE(WaitUntil(port, [&] { return b.ReadAvailable() == "hi"; }));
  EXPECT_EQ(a.ReadAvailable(), "");
}

