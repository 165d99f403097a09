// The run record of task runs on the simulated controllers and the fake
// clock: its rows against the frames and times the controllers saw, and how
// a stopped, failed or lost run closes it.
#include <cstdlib>
#include <filesystem>
#include <csignal>
#include <fstream>
#include <map>
#include <sys/wait.h>

#include "ProcessFixture.h"
#include "support/TempDir.h"
#include "base/Profile.h"
#include "base/TextFile.h"
#include "machine/Startup.h"
#include "record/RunRecord.h"
#include "tasks/TaskRun.h"

namespace {

class RunRecordTest : public ProcessTest {
protected:
  TWorkDir Work;                                      // the runs write their records there
  std::vector<std::pair<int64_t, std::string>> Seen;  // the controllers' log
  void SetUp() override {
    ProcessTest::SetUp();
    Port.Bus.Log = [this](const std::string &l) {
      const size_t sp = l.find(' ');
      Seen.emplace_back(std::atoll(l.c_str()), l.substr(sp + 1));
    };
    TProcEntry a = Proc("A", 0.5, 0.3, 2);
    a.ChNo = 2;
    a.ChMode = 1;
    a.LowPos = 8;
    AppendProcess(a);
    TProcEntry b = Proc("B", 0.2, 0.2, 1);
    b.PosNo = 1;
    AppendProcess(b);
    AppendTask({"T/1", "A + B"});
    CurTask = TaskCount;
  }
  std::vector<TRecordRow> Record(std::vector<TRecordRow> *events = nullptr,
                                 const std::string &path = RunRecorder().Path()) {
    std::vector<TRecordRow> rows, ev;
    std::string error;
    EXPECT_TRUE(ReadRunRecord(path, rows, ev, error)) << error;
    if (events) *events = ev;
    return rows;
  }
  std::string Ends(const std::vector<TRecordRow> &rows) const {
    std::string s;
    for (auto &r : rows) s += (s.empty() ? "" : " ") + r.Mode + ":" + r.End;
    return s;
  }
  // Times (ms since the run began) of the controllers' log lines that are `what`.
  std::vector<int64_t> When(const std::string &what) const {
    std::vector<int64_t> t;
    for (auto &s : Seen)
      if (s.second == what) t.push_back(s.first - int64_t(RunRecorder().StartTick()));
    return t;
  }
};

TEST_F(RunRecordTest, RowsMatchWhatTheControllersSaw) {
  H.Operator.TextAnswers = {{"Wafer 7", "Ana"}};
  ProfileWriteString(SettingsIniFile, "Settings", "RobotName", "Coater 2");
  DigOutTable[2].Name = "Heater";
  TProcEntry slow = Proc("S", 1, 1, 1);
  slow.InSpeed = 0.00083;
  AppendProcess(slow);
  TaskStart();
  ASSERT_EQ(RunRecorder().Path().rfind("runs/", 0), 0u);
  EXPECT_NE(RunRecorder().Path().find("_T_1.csv"), std::string::npos);  // no "/" in the file name
  const std::vector<TRecordRow> rows = Record();
  std::vector<std::string> kinds;
  for (auto &r : rows) kinds.push_back(r.Mode + " " + r.Process + " " + std::to_string(r.Dip) + " " + r.End);
  EXPECT_EQ(kinds, (std::vector<std::string>{"travel A 0 done", "step-by-step A 1 done",
                                             "step-by-step A 2 done", "travel B 0 done",
                                             "step-by-step B 1 done", "travel  0 done", "end  0 done"}));
  const auto down = When("#3 V=1200.0000 WA=80.0000 E"), up = When("#3 V=1200.0000 WA=50.0000 E");
  const auto bottom = When("== #3 stands at 80"), top = When("== #3 stands at 50");
  std::vector<std::pair<int64_t, std::string>> Writes;  // "#3 P1204=s" frames
  for (auto &s : Seen)
    if (s.second.rfind("#3 P1204=", 0) == 0)
      Writes.emplace_back(s.first - int64_t(RunRecorder().StartTick()), s.second);
  ASSERT_EQ(down.size(), 2u);
  ASSERT_EQ(Writes.size(), 12u);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const TRecordRow &r = rows[1 + k];
    EXPECT_EQ(r.Task, "T/1");
    EXPECT_EQ(r.Position, "Coat");
    EXPECT_EQ(r.Bottom, 8);
    EXPECT_EQ(r.DownAt, down[k]);
    EXPECT_EQ(r.UpAt, up[k + 1]);  // the first up is the move to the top before the dips
    // Seen reached at the first poll after the controller stood, which is
    // within one poll cycle; the holds are the waits and what follows them.
    EXPECT_GE(r.BottomAt, bottom[k]);
    EXPECT_LT(r.BottomAt, bottom[k] + 400);
    EXPECT_GE(r.TopAt, top[k + 1]);
    EXPECT_LT(r.TopAt, top[k + 1] + 400);
    EXPECT_EQ(r.HeldBottom, r.UpAt - r.BottomAt);
    EXPECT_GE(r.HeldBottom, 600);  // (5 + 1) x 100 ms
    EXPECT_GE(r.HeldTop, 400);
    EXPECT_NEAR(r.Withdrawal, 2.0, 0.3);
    std::string writes;
    for (int w = 6 * k; w < 6 * k + 6; ++w)
      writes += (writes.empty() ? "2=" : " 2=") + Writes[w].second.substr(9) + "@" +
                std::to_string(Writes[w].first);
    EXPECT_EQ(r.Outputs, writes);
    EXPECT_GE(r.ZReads.size(), 3u);
  }
  EXPECT_TRUE(std::isnan(rows[4].Withdrawal) || rows[4].Withdrawal > 0);
  EXPECT_EQ(rows.back().ErrorBits, 0);
  EXPECT_EQ(rows.back().Seen.rfind("Estimate was ", 0), 0u) << rows.back().Seen;
  // The run described beside its rows: labels, start with its offset, the
  // recipe as run and what shapes the motion; the labels offered next time.
  const std::string base = RunRecorder().Path().substr(0, RunRecorder().Path().size() - 4);
  std::ifstream aboutFile(base + ".about.ini"), dipFile(base + ".dip");
  const std::string about((std::istreambuf_iterator<char>(aboutFile)), {}),
      dip((std::istreambuf_iterator<char>(dipFile)), {});
  for (const char *key : {"Sample=Wafer 7\n", "Operator=Ana\n", "Task line=A + B\n", "Program version=",
                          "MaxSpeed Z cm/s=2\n", "[Estimate]\nAcceleration X cm/s2=10\n", "Fast replies=",
                          "Robot name=Coater 2\n", "Output 2=controller 3, pin 4, Heater\n",
                          "Y centre line=no\n", ", down 83E-5 cm/s,"})
    EXPECT_NE(about.find(key), std::string::npos) << key;
  EXPECT_NE(about.find("As run SHA-256=" + Sha256Hex(dip)), std::string::npos);
  EXPECT_NE(dip.find("A + B"), std::string::npos);
  const size_t started = about.find("Started=");
  ASSERT_NE(started, std::string::npos);
  EXPECT_TRUE(about[started + 27] == '+' || about[started + 27] == '-') << about.substr(started, 40);
  H.Operator.TextAnswers.clear();
  H.Operator.TextsShown.clear();
  TaskStart();
  ASSERT_EQ(H.Operator.TextsShown.size(), 1u);
  EXPECT_EQ(H.Operator.TextsShown[0][0].second, "Wafer 7");
  EXPECT_EQ(H.Operator.TextsShown[0][1].second, "Ana");
}

// A positioning answered Retry at the STOP dialog that then completes
// leaves no failed row; the answer and how long the box stayed open are in
// the record and the log. (Every other verdict: RecordTruthTest.)
TEST_F(RunRecordTest, RetriedPositioningIsDone) {
  H.Operator.Answers = {mbRetry};
  bool sent = false;
  H.Events.OnPump = [&] {
    if (!sent && H.Report.HasPrefix("$ Move to Position")) sent = true, TaskStop();
  };
  TaskStart();
  H.Events.OnPump = nullptr;
  ASSERT_TRUE(sent);
  std::vector<TRecordRow> events;
  EXPECT_EQ(Ends(Record(&events)),
            "travel:done step-by-step:done step-by-step:done travel:done step-by-step:done travel:done end:done");
  int noted = 0;
  for (auto &e : events)
    noted += e.Event.rfind("Question \"", 0) == 0 && e.Event.find("\" answered Retry after 0.0 s") != std::string::npos;
  EXPECT_EQ(noted, 1);
  EXPECT_TRUE(H.Report.HasPrefix("Question \""));
}

// 0.0125 cm/s comes back within 0.1 %; a speed above Z's MaxSpeed shows the
// speed driven beside the recipe's.
TEST_F(RunRecordTest, SpeedsAsAskedAndAsDriven) {
  ProcTable[1].InSpeed = 0.0125;
  ProcTable[1].LowPos = 5.01;
  ProcTable[1].NoTunks = 1;
  ProcTable[2].OutSpeed = Axes[3].MaxSpeed * 2;
  TaskStart();
  const std::vector<TRecordRow> rows = Record();
  ASSERT_EQ(Ends(rows), "travel:done step-by-step:done travel:done step-by-step:done travel:done end:done");
  EXPECT_NEAR(rows[1].InSpeed, 0.0125, 0.0125e-3);
  EXPECT_NEAR(rows[1].InDriven, 0.0125, 0.0125e-3);
  EXPECT_EQ(rows[3].OutSpeed, Axes[3].MaxSpeed * 2);
  EXPECT_EQ(rows[3].OutDriven, Axes[3].MaxSpeed);
}

// Free room below the margin is told before anything moves; above it, not.
TEST_F(RunRecordTest, LowFreeRoomIsToldBeforeTheRun) {
  ProfileWriteInt(SettingsIniFile, "Logs", "FreeMarginMB", 2000000000);  // more than any disk has
  TaskStart();
  const std::string log = H.Report.Joined();
  const size_t low = log.find("*** Only ");
  ASSERT_NE(low, std::string::npos) << log;
  EXPECT_EQ(log.compare(log.find(' ', low + 9), 51, " MB free in the working folder: the run record and "),
            0);
  EXPECT_LT(low, log.find("$ Move ["));
  ProfileWriteInt(SettingsIniFile, "Logs", "FreeMarginMB", 0);
  H.Report.Lines.clear();
  TaskStart();
  EXPECT_FALSE(H.Report.HasPrefix("*** Only "));
}

}  // namespace
