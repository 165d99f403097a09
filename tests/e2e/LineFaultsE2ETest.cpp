// Faults of a real line against a task run over the paced simulator: each
// fault hits the Z controller during the down stroke of process A, so the
// stroke fails, the task ends after A (B never reached) and the machine is
// taken home with the controls given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "base/OpState.h"
#include "base/Machine.h"
#include "recipes/Definitions.h"
#include "support/Fakes.h"
#include "support/SimLine.h"
#include "support/TempDir.h"
#include "machine/Motion.h"
#include "veri/Params.h"
#include "record/RunRecord.h"
#include "tasks/TaskRun.h"
#include "veri/Connection.h"

namespace {

using Clock = std::chrono::steady_clock;

class LineFaultsE2E : public ::testing::Test {
protected:
  THostFixture Host;
  TSimLine Line;
  TSimProcess &Sim = Line.Sim;

  void SetUp() override {
    ASSERT_TRUE(Line.Open());
    Line.PrepareDipMachine();
    Sim.Control("speedup 1");  // the down stroke lasts about a second
    // Fields: name, position, down and up speed, top and bottom, times, channel and its mode, dips.
    AppendProcess({"A", 1, 1, 1.5, 1.5, 2.5, 0.1, 0.1, 0, 0, 1});
    AppendProcess({"B", 2, 1, 1.5, 1.5, 2.5, 0.1, 0.1, 0, 0, 1});
    AppendTask({"T", "A + B"});
    CurTask = TaskCount;
  }
  void TearDown() override { SetOpState(Idle); }

  // Runs the task with `fault` sent as the down stroke begins (with
  // `polls`, once the stroke's command was answered: the simulator takes
  // it in its own time, so only the polls can meet it) and cleared once
  // the log shows `cleared`; a run that outlasts 40 s is stopped.
  void Run(const std::string &fault, const std::string &cleared = "*** Move [3] stopped", bool polls = false) {
    bool sent = false, healed = false, stopped = false;
    const Clock::time_point start = Clock::now();
    auto begun = [&] {
      const std::vector<std::string> &l = Host.Report.Lines;
      auto move = std::find(l.begin(), l.end(), "$ Move [3]  to: 2.5;  Speed: 1");
      return move != l.end() && (!polls || std::any_of(move, l.end(), [](const std::string &x) {
                                   return x.rfind("$ VERI Rcvd:", 0) == 0 && x.find(" : #3 V=") != std::string::npos;
                                 }));
    };
    Host.Events.OnPump = [&] {
      if (!sent && begun()) sent = Sim.Control(fault);
      if (!healed && Host.Report.HasPrefix(cleared)) healed = Sim.Control("clear 3");
      if (!stopped && Clock::now() - start > std::chrono::seconds(40)) stopped = true, TaskStop();
    };
    ReportLevel = 2;
    TaskStart();
    Host.Events.OnPump = nullptr;
    EXPECT_TRUE(sent);
    EXPECT_FALSE(stopped) << "the run hung";
    EXPECT_EQ(Host.Report.Lines.back(), "-- End Task ---.");
    EXPECT_EQ(OpState(), Idle);
    EXPECT_FALSE(Axes[3].Moving);
    EXPECT_FALSE(Host.Report.Has("   Position: Coat")) << Host.Report.Joined();  // bit 12 ends the task
    EXPECT_FALSE(Line.Received("#3 V=900.0000 WA=15.0000 E"));                   // no up stroke
  }
  bool HomeSent() const {
    return Line.Received("#3 V=1200.0000 WA=10.0000 E") && Line.Received("#1 V=1200.0000 WA=10.0000 E");
  }
};

}  // namespace

TEST_F(LineFaultsE2E, NoiseInTheEchoFailsThePollAndStopsTheAxis) {
  Run("noise 3", "*** Move [3] stopped", true);
  // "#3 OK0" with its blank hit: another controller's echo to the program.
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [3] stopped, no valid answer from the controller: *** #30OK0"))
      << Host.Report.Joined();
  EXPECT_TRUE(Line.Received("#3 S"));
  EXPECT_TRUE(HomeSent());
}

TEST_F(LineFaultsE2E, ReplyCutShortFailsThePoll) {
  Run("cut 3");
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [3] stopped, no valid answer from the controller:"))
      << Host.Report.Joined();
  EXPECT_TRUE(Line.Received("#3 S"));
  EXPECT_TRUE(HomeSent());
}

TEST_F(LineFaultsE2E, PowerCycledControllerIsFoundUnreferencedAndOff) {
  Sim.Control("set all 403 1");
  Run("powercycle 3", "$ Move [3]  to: 1;");
  // It came back standing short of the bottom, and refuses the way home.
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [3] did not reach its target 2.5")) << Host.Report.Joined();
  EXPECT_TRUE(Host.Report.HasPrefix("*** Move [3] did not reach its target 1"));
  EXPECT_FALSE(Line.Received("#1 V=1200.0000 WA=10.0000 E"));
  Host.Operator.Answers = {mbNo, mbNo};
  ReportLevel = 1;
  VERICheckConnection();
  EXPECT_NE(Host.Report.Joined().find("Axis 3: \nVERI Software Version: VERISIM_1.0 \n (-) not referenced!\n"
                                      " (-) power OFF!"),
            std::string::npos);
}

TEST_F(LineFaultsE2E, LateControllerIsNeverTakenForTheNextAnswer) {
  Run("delay 3 1200", "*** Move [3] stopped", true);
  EXPECT_TRUE(
      Host.Report.Has("*** Move [3] stopped, no valid answer from the controller: *** SerialTalk: TimeOut "
                      "*** VERIDialog: no connection to VERI"))
      << Host.Report.Joined();
  // The late replies are logged as stale, and the way home works.
  EXPECT_TRUE(Host.Report.HasPrefix("$ VERI Serial Talk buffer: #3 P51? P51="));
  EXPECT_FALSE(Host.Report.HasPrefix("*** Move [3] did not reach"));
  EXPECT_TRUE(HomeSent());
}

// A move whose controller falls silent as it starts leaves Z's position
// unknown: the controller went on to 2.5, so a move back to where the
// program last read it is still made, and ends there.
TEST_F(LineFaultsE2E, PositionUnknownAfterALostMoveIsMovedFrom) {
  Sim.Control("speedup 1");
  Move(3, 2, 1);
  ASSERT_DOUBLE_EQ(Axes[3].Position, 1);
  bool muted = false;
  Host.Events.OnPump = [&] {
    if (!muted && Axes[3].Moving) muted = Sim.Control("mute 3");
  };
  EXPECT_EQ(Move(3, 1, 2.5).Outcome, TMoveOutcome::Lost);
  Host.Events.OnPump = nullptr;
  EXPECT_TRUE(Axes[3].PositionUnknown);
  Sim.Control("clear 3");
  SleepMs(2000);
  EXPECT_TRUE(Move(3, 2, 1).Ok());
  EXPECT_TRUE(VERIGetPosition(3));
  EXPECT_DOUBLE_EQ(Axes[3].Position, 1);
}

// The record's folder gone during the move home and back after the run:
// the rows kept are written by the retry, home and end rows included.
TEST_F(LineFaultsE2E, RecordEndWrittenWhenTheDiskIsBack) {
  TWorkDir work;
  Sim.Control("speedup 10");
  AppendTask({"TA", "A"});
  CurTask = TaskCount;
  Host.Events.OnPump = [&] {
    if (Host.Report.Has("Moving to home position ..") && !std::filesystem::exists("away")) {
      std::filesystem::rename("runs", "away");
      std::ofstream("runs") << "a file where the folder was";
    }
  };
  TaskStart();
  Host.Events.OnPump = nullptr;
  std::filesystem::remove("runs");
  std::filesystem::rename("away", "runs");
  RunRecorder().Retry();
  std::vector<TRecordRow> rows;
  std::string error;
  ASSERT_TRUE(ReadRunRecord(RunRecorder().Path(), rows, error)) << error;
  ASSERT_EQ(rows.size(), RunRecorder().Rows().size());
  EXPECT_EQ(rows[rows.size() - 2].Position, "home");
  EXPECT_EQ(rows.back().Mode, RecordEnd);
  EXPECT_TRUE(Host.Report.Has("Run record " + RunRecorder().Path() + " written again: no row lost"));
}
