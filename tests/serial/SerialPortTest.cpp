#include <QCheckBox>
// The serial port on a pseudo-terminal: what the far end receives, the
// clusters a reply is cut into, a worker that neither hangs nor spins, and
// the line settings dialog.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "PtyPeer.h"
#include "base/Profile.h"
#include "serial/SerialLine.h"
#include "serial/SerialNGBasicDLG.h"
#include "serial/SerialPortNG.h"
#include "support/Fakes.h"
#include "support/TempDir.h"

namespace {
double ProcessCpuMs() { return 1e3 * double(std::clock()) / CLOCKS_PER_SEC; }

class SettingsDialog : public TTempDirTest {
protected:
  THostFixture Host{1};
  TPtyPeer Peer;
  TSerialPortNG Port;
  TSerialNGBasicDLG Dlg;
  // Runs the dialog; `choose` acts on it while it is shown, then OK or Cancel.
  bool Run(const std::function<void()> &choose, bool ok) {
    Port.ThreadQuietMode = true;
    Port.SetCommPort(Peer.SlavePath);
    QTimer::singleShot(0, &Dlg, [&] {
      choose();
      ok ? Dlg.accept() : Dlg.reject();
    });
    return ChangeSerialSettings(Dlg, Port, "KVSettings.ini");
  }
  std::string Key(const char *key) {
    return ProfileReadString("KVSettings.ini", "COMPortSettings", key, "-");
  }
};
}  // namespace

// A missing device in the log: PlainAnswersTest.
TEST(SerialPort, DevicePaths) {
  EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath("COM4"), "/dev/ttyS3");
  EXPECT_EQ(SerialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

// When the bytes held are a complete reply to the frame last sent.
TEST(SerialPort, ReplyCompleteCases) {
  struct {
    const char *Bytes, *Address;
    size_t EchoWords;
    bool EchoEnds, Complete;
  } cases[] = {
      {"#1 P51? P51=10\r\n", "#1", 2, false, true}, {"#10 P51? P51=10\r\n", "#1", 2, false, false},
      {"#1 P51? P51=10\r\n", "#10", 2, false, false}, {"#1 P51?\r\nP51=10\r\n", "#1", 2, false, false},
      {"#1 P51?\r\n", "#1", 2, false, false}, {"#1 P134=7\r\n", "#1", 2, true, true},  // read, write
      {"#1 P134=7", "#1", 2, true, false}, {"\n#1 P51? P51=10\r\n", "#1", 2, false, false},
      {"#1 P51? P51=10\n", "#1", 2, false, false}, {"#1 P51? P51=10\r", "#1", 2, false, false},
      {"#3 OK0\r\n", "#3", 1, false, true}, {"#3 P51?\r\n", "#3", 1, false, false},  // a status poll's
  };
  for (auto &c : cases)
    EXPECT_EQ(ReplyComplete(c.Bytes, c.Address, c.EchoWords, c.EchoEnds), c.Complete) << c.Bytes << c.Address;
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

TEST(SerialPort, StuckWriteIsCutShortAndAHungUpLineNeitherSpinsNorRepeats) {
  TPtyPeer peer;
  TSerialPortNG port;
  std::vector<std::pair<uint32_t, uint32_t>> reports;
  port.OnProcessError = [&](TSerialPortNG *, uint32_t place, uint32_t code, const std::string &, uint8_t) {
    reports.push_back({place, code});
  };
  port.SetCommPort(peer.SlavePath);
  port.SetXTOAuto(false);
  port.SetWTOCharDelayTime(0);
  port.SetWTOExtraDelayTime(100);
  port.SetActive(true);
  const std::string block(1 << 20, 'w');  // more than the pty takes while nobody reads
  port.SendText(block);
  ASSERT_TRUE(WaitUntil(port, [&] { return !reports.empty() && reports.back().first == 9701u; }));
  EXPECT_LT(port.WrittenBytes(), block.size());
  EXPECT_EQ(reports.back().second, port.WrittenBytes());
  // Quiet, as the program runs it: the next write starts the moment the
  // worker gives the last one up (a race the thread sanitizer finds).
  port.ThreadQuietMode = true;
  for (int i = 0; i < 2; ++i) {
    port.SendText(block);
    ASSERT_TRUE(WaitUntil(port, [&] { return !port.SendInProgress(); }));
  }
  port.ThreadQuietMode = false;
  reports.clear();
  peer.CloseMaster();
  WaitUntil(
      port, [] { return false; }, 100);
  const double cpu0 = ProcessCpuMs();
  WaitUntil(
      port, [] { return false; }, 600);
  EXPECT_LT(ProcessCpuMs() - cpu0, 150.0);  // a spinning worker would burn the whole 600 ms
  size_t hangups = 0;
  for (auto &r : reports) hangups += r.first == 9911 || r.first == 9804;
  EXPECT_GE(hangups, 1u);
  EXPECT_LE(hangups, 2u);
}

TEST_F(SettingsDialog, OkSetsThePortOpensItAndWritesWhatItHolds) {
  Port.SetBaudRate(4000);  // unknown: shown and stored as 19200
  Put("KVSettings.ini", "[General]\r\nNMotors=2\r\n");
  ASSERT_TRUE(Run(
      [&] {
        Dlg.CBParity->setCurrentText("Even");
        Dlg.CBFlow->setCurrentText("RTS-CTS");
        // "Check line" shows what the check says, in the dialog.
        Dlg.OnCheckLine = [&] {
          Port.SetReplyRule(TReplyRule::All());  // as if earned
          return std::string("Line check, controller 1: passed");
        };
        Dlg.CheckLineButton->click();
        EXPECT_EQ(Dlg.CheckLineResult->text().toStdString(), "Line check, controller 1: passed");
      },
      true));
  EXPECT_TRUE(Port.Active());
  EXPECT_EQ(Port.BaudRate(), 19200u);
  EXPECT_EQ(Port.FlowControl(), 8196);
  EXPECT_EQ(
      Key("Port") + " " + Key("Baud") + " " + Key("Parity") + " " + Key("Control") + " " + Key("FastReplies"),
      Peer.SlavePath + " 19200 2 8196 2");
  // OK with the setting unchanged keeps what the line earned, and says it.
  EXPECT_TRUE(Port.ReplyRule().Answers[1]);
  EXPECT_TRUE(Host.Report.Has("Replies end at the line end: automatic, at the line end"));
  ASSERT_TRUE(Run([&] { Dlg.CBFastReplies->setCurrentText("On"); }, true));
  EXPECT_EQ(Port.FastReplies(), TFastReplies::On);
  EXPECT_TRUE(Host.Report.Has("Replies end at the line end: on"));
  EXPECT_EQ(ProfileReadInt("KVSettings.ini", "General", "NMotors", 0), 2);  // the rest untouched
}

TEST_F(SettingsDialog, CancelChangesNeitherPortNorFile) {
  Port.SetBaudRate(9600);
  EXPECT_FALSE(Run(
      [&] {
        Dlg.CBPort->setCurrentText("COM3");
        Dlg.CBBaud->setCurrentText("256000");
        Dlg.CBFastReplies->setCurrentText("On");
      },
      false));
  EXPECT_FALSE(Port.Active());
  EXPECT_EQ(Port.CommPort(), Peer.SlavePath);
  EXPECT_EQ(Port.BaudRate(), 9600u);
  EXPECT_EQ(Port.FastReplies(), TFastReplies::Automatic);  // the default
  EXPECT_FALSE(Exists("KVSettings.ini"));
}
