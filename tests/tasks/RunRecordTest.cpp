// The run record of task runs on the simulated controllers and the fake
// clock: its rows against the frames and times the controllers saw, and how
// a stopped, failed or lost run closes it.
#include <cstdlib>
#include <filesystem>
#include <map>

#include "ProcessFixture.h"
#include "record/RunRecord.h"
#include "tasks/TaskRun.h"

namespace {

class RunRecordTest : public ProcessTest {
protected:
  std::string Saved, Dir;
  std::vector<std::pair<int64_t, std::string>> Seen;  // the controllers' log
  void SetUp() override {
    ProcessTest::SetUp();
    Saved = std::filesystem::current_path();
    char tmpl[] = "/tmp/kvrecord-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Dir = tmpl;
    std::filesystem::current_path(Dir);
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
  void TearDown() override {
    std::filesystem::current_path(Saved);
    std::filesystem::remove_all(Dir);
    ProcessTest::TearDown();
  }
  std::vector<TRecordRow> Record() {
    std::vector<TRecordRow> rows;
    std::string error;
    EXPECT_TRUE(ReadRunRecord(RunRecorder().Path(), rows, error)) << error;
    return rows;
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
}

// STOP in the first down stroke, a stroke the controller ends short, a
// controller gone silent: the dip, the run and the record's end row say so.
TEST_F(RunRecordTest, StoppedFailedAndLostRunsCloseTheRecord) {
  const std::map<std::string, std::string> faults = {
      {"stop", EndStopped}, {"limit 3 open", EndMoveFailed}, {"mute 3", EndLost}};
  for (const auto &[fault, end] : faults) {
    SCOPED_TRACE(fault);
    Port.Control("clear 3");
    Port.Control("limit 3 close");
    H.Report.Lines.clear();
    H.Operator.Answers = {mbNo};
    bool sent = false;
    H.Events.OnPump = [&] {
      if (sent || !Axes[3].Moving || !H.Report.HasPrefix("$ Move [3]  to: 8;")) return;
      sent = true;
      if (fault == "stop") TaskStop();
      else Port.Control(fault);
    };
    TaskStart();
    H.Events.OnPump = nullptr;
    ASSERT_TRUE(sent);
    const std::vector<TRecordRow> rows = Record();
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[1].End, end);
    EXPECT_EQ(rows[1].ErrorBits, 1 << ProcErrDipsStopped);
    EXPECT_EQ(rows.back().Mode, RecordEnd);
    EXPECT_EQ(rows.back().End, end);
    EXPECT_FALSE(RunRecorder().Active());
  }
}

}  // namespace
