#include <gtest/gtest.h>

#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "veri/Transport.h"

namespace {
const std::string NoConn = "*** VERIDialog: no connection to VERI  ";
}

TEST(VERIWords, SplitsAtEveryControlCharacterAndBlank) {
  EXPECT_EQ(VERIWords(""), std::vector<std::string>{});
  EXPECT_EQ(VERIWords(" \r\n\t "), std::vector<std::string>{});
  EXPECT_EQ(VERIWords("  #1   P1013?\t\x01" "12\r\n"),
            (std::vector<std::string>{"#1", "P1013?", "12"}));
  // Characters above 127 belong to words.
  EXPECT_EQ(VERIWords("a\xE4 b"), (std::vector<std::string>{"a\xE4", "b"}));
}

TEST(VERICutAnswer, AnswerWordsAfterTheEcho) {
  EXPECT_EQ(VERIFrame(1, "VER"), "#1 VER\r");
  EXPECT_EQ(VERIFrame(255, ""), "#255 \r");
  EXPECT_EQ(VERICutAnswer(1, "P1013?", "#1 P1013? 4\r\n"), "4 ");
  EXPECT_EQ(VERICutAnswer(1, "P1013?", "#1   P1013?    4    5\r\n"), "4 5 ");
  // Echo alone: empty answer.
  EXPECT_EQ(VERICutAnswer(1, "P134?", "#1 P134?\r\n"), "");
  // Empty command (status poll): every word after the address.
  EXPECT_EQ(VERICutAnswer(3, "", "#3 OK1\r\n"), "OK1 ");
  // Command with blanks: its words are skipped, not compared.
  EXPECT_EQ(VERICutAnswer(3, "V=1 WA=2 E", "#3 xx yy zz done\r\n"), "done ");
  // Only the last two characters are cut, whatever they are.
  EXPECT_EQ(VERICutAnswer(1, "VER", "#1 VER V1.2AB"), "V1.2 ");
}

TEST(VERICutAnswer, FailuresAlwaysBeginWithStar) {
  EXPECT_EQ(VERICutAnswer(1, "VER", "*** SerialTalk: TimeOut  "),
            "*** SerialTalk: TimeOut\r\n" + NoConn);
  // Another controller's echo: failure, with its reply kept.
  EXPECT_EQ(VERICutAnswer(1, "VER", "#2 VER V1\r\n"), "*** #2 VER V1\r\n" + NoConn);
  // Case matters, and "#1" is not "#12".
  EXPECT_EQ(VERICutAnswer(1, "VER", "#12 VER V1\r\n")[0], '*');
  EXPECT_EQ(VERICutAnswer(1, "VER", "\r\n"), NoConn);
  EXPECT_EQ(VERICutAnswer(1, "VER", "x"), NoConn);
}

TEST(VERIDialogSim, AnswersAndLogLines) {
  THostFixture host;
  TSimLinePort line;
  EXPECT_EQ(VERIDialog(1, "P1013?"), "P1013=4 ");
  ASSERT_EQ(line.Sent.size(), 1u);
  EXPECT_EQ(line.Sent[0], "#1 P1013?\r");
  EXPECT_TRUE(host.Report.Has("$ VERI Rcvd: (100) : #1 P1013? P1013=4\r\n"));

  EXPECT_EQ(VERIDialog(4, "VER"), "*** SerialTalk: TimeOut\r\n" + NoConn);
  EXPECT_TRUE(host.Report.Has("$ VERI Rcvd: (0) : *** SerialTalk: TimeOut  "));

  line.NextCCError = 8;
  EXPECT_EQ(VERIDialog(1, "VER"), "*** SerialTalk: NextClusterCCError\r\n" + NoConn);

  line.Control("wrongaddr 2 1 1");
  std::string a = VERIDialog(2, "VER");
  EXPECT_EQ(a, "*** #1 VER VERISIM_1.0\r\n" + NoConn);
}

TEST(VERIDialogSim, LateReplyIsDrainedAndLogged) {
  THostFixture host;
  TSimLinePort line;
  line.Control("delay 1 1500 1");
  EXPECT_EQ(VERIDialog(1, "VER")[0], '*');
  host.Clock.Sleep(600);
  // The late reply is drained before the next send and does not become its answer.
  EXPECT_EQ(VERIDialog(1, "P403?"), "P403=5 ");
  EXPECT_TRUE(host.Report.Has("$ VERI Serial Talk buffer: #1 VER VERISIM_1.0\r\n"));
}

TEST(VERICallSim, SendsWithoutReadingAndLogs) {
  THostFixture host;
  TSimLinePort line;
  uint64_t slept = host.Clock.Slept;
  VERICall(3, "RUN");
  EXPECT_EQ(host.Clock.Slept - slept, 30u);
  EXPECT_TRUE(host.Report.Has("$ VERI Call: #3 RUN\r"));
  // Its reply waits in the queue and is drained by the next exchange.
  EXPECT_EQ(VERIDialog(3, "VER"), "VERISIM_1.0 ");
  EXPECT_TRUE(host.Report.HasPrefix("$ VERI Serial Talk buffer: #3 RUN"));
}

TEST(VERIDialogSim, SplitReplyTakesFirstHalfThenDrainsSecond) {
  THostFixture host;
  TSimLinePort line;
  line.Control("split 1 400 1");
  // The first piece is taken as the whole reply ("#1 VER VER", cut by two),
  // the rest is drained as stale by the next exchange.
  EXPECT_EQ(VERIDialog(1, "VER"), "V ");
  host.Clock.Sleep(500);
  EXPECT_EQ(VERIDialog(1, "VER"), "VERISIM_1.0 ");
  EXPECT_TRUE(host.Report.HasPrefix("$ VERI Serial Talk buffer: "));
}
