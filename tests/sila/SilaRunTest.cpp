// A scheduler runs, follows and stops tasks through the SiLA 2 server, over
// TLS with the control token, on the simulated controllers.
#include <atomic>
#include <mutex>
#include <thread>

#include "SilaClient.h"
#include "base/OpState.h"
#include "tasks/RunEvents.h"

namespace {

// Holds `m` to the end of the expression it stands in.
std::unique_lock<std::mutex> Locked(std::mutex &m) { return std::unique_lock<std::mutex>(m); }

TEST_F(SilaTest, ASchedulerRunsATaskAndFollowsItToTheRecord) {
  Start();
  std::mutex m;
  std::vector<fw::ExecutionInfo> infos;
  std::vector<dc::RunTask_IntermediateResponses> steps;
  std::vector<std::string> states;
  grpc::Status started, result;
  dc::RunTask_Responses answer;
  std::atomic<bool> done{false};
  auto stub = Dip();
  auto stateCtx = Ctx("");
  std::thread watcher([&] {  // State, from before the run to after its end
    auto r = stub->Subscribe_State(stateCtx.get(), {});
    for (dc::Subscribe_State_Responses s; r->Read(&s);) Locked(m), states.push_back(s.state().value());
  });
  ASSERT_TRUE(Until([&] { return Locked(m), !states.empty(); }));
  std::thread scheduler([&] {
    dc::RunTask_Parameters p;
    p.mutable_taskname()->set_value("T");
    fw::CommandConfirmation c;
    started = stub->RunTask(Ctx(Token).get(), p, &c);
    auto infoCtx = Ctx(Token), interCtx = Ctx(Token);
    auto info = stub->RunTask_Info(infoCtx.get(), c.commandexecutionuuid());
    for (fw::ExecutionInfo i; info->Read(&i);) Locked(m), infos.push_back(i);
    auto inter = stub->RunTask_Intermediate(interCtx.get(), c.commandexecutionuuid());
    for (dc::RunTask_IntermediateResponses s; inter->Read(&s);) steps.push_back(s);
    result = stub->RunTask_Result(Ctx(Token).get(), c.commandexecutionuuid(), &answer);
    done = true;
  });
  // At each dip the run waits until the scheduler has seen a new ExecutionInfo.
  int dips = 0, handled = 0;
  size_t seen = 0;
  const int id = AddRunListener([&](const TRunEvent &e) { dips += e.Kind == TRunEventKind::DipStarted; });
  OnPump = [&] {
    if (handled == dips) return;
    handled = dips;
    EXPECT_TRUE(Until([&] { return Locked(m), infos.size() > seen; }));
    seen = (Locked(m), infos.size());
  };
  Until([&] { return done.load(); }, 60000);
  scheduler.join();
  EXPECT_TRUE(Until([&] { return Locked(m), states.back() == "connected"; }));
  stateCtx->TryCancel();
  watcher.join();
  RemoveRunListener(id);
  ASSERT_TRUE(started.ok() && result.ok()) << started.error_message() << result.error_message();
  EXPECT_EQ(answer.verdict().value(), "done");
  EXPECT_EQ(answer.runrecord().value(), RunRecorder().Path());
  // Progress rises and the remaining time falls, from the estimate; the end is 1 and 0.
  std::vector<double> progress, remaining;
  for (const auto &i : infos)
    if (i.commandstatus() == fw::ExecutionInfo::running) {
      EXPECT_GE(i.progressinfo().value(), progress.empty() ? 0 : progress.back());
      progress.push_back(i.progressinfo().value());
      remaining.push_back(double(i.estimatedremainingtime().seconds()));
    }
  ASSERT_GE(progress.size(), 3u);
  EXPECT_GT(progress.back(), progress.front());
  EXPECT_LT(remaining.back(), remaining.front());
  EXPECT_EQ(infos.back().commandstatus(), fw::ExecutionInfo::finishedSuccessfully);
  EXPECT_EQ(infos.back().progressinfo().value(), 1.0);
  std::string dipsSeen;
  for (const auto &s : steps)
    dipsSeen += s.step().process().value() + std::to_string(s.step().dip().value()) + "/" +
                std::to_string(s.step().dips().value()) + " ";
  EXPECT_EQ(dipsSeen, "A1/3 A2/3 A3/3 ");
  EXPECT_NE(std::find(states.begin(), states.end(), "running"), states.end());
  for (const char *line : {"Lab automation: task T started by 127.0.0.1", "Lab automation: task T ended: done",
                           "Sample:   Operator: lab automation (127.0.0.1)"})
    EXPECT_TRUE(Logged(line)) << line;
  dc::Get_LastRun_Responses last;
  ASSERT_TRUE(stub->Get_LastRun(Ctx("").get(), {}, &last).ok());
  EXPECT_EQ(last.lastrun().verdict().value() + last.lastrun().runrecord().value(), "done" + RunRecorder().Path());
}

TEST_F(SilaTest, StopDuringADipEndsTheRunStoppedAndZGetsS) {
  Start();
  grpc::Status refused, stopped;
  OnPump = [&] {
    if (refused.error_code() != grpc::StatusCode::OK || OpState() != TaskRunning || !Axes[3].Moving) return;
    dc::Stop_Responses r;
    refused = OffThread([&] { return Dip()->Stop(Ctx(ReadToken).get(), {}, &r); });
    EXPECT_EQ(CountOf(3, "S"), 0);
    stopped = OffThread([&] { return Dip()->Stop(Ctx(Token).get(), {}, &r); });
    Until([&] { return StopRequest; });
  };
  const auto [s, uuid] = RunTask("T", Token);
  ASSERT_TRUE(s.ok() && stopped.ok());
  EXPECT_EQ(ErrorOf(refused), NoToken);
  EXPECT_GE(CountOf(3, "S"), 1);
  EXPECT_TRUE(Logged("Lab automation: STOP from 127.0.0.1"));
  EXPECT_TRUE(Logged("Lab automation: STOP refused to 127.0.0.1 (no valid access token)"));
  dc::RunTask_Responses answer;
  ASSERT_TRUE(Dip()->RunTask_Result(Ctx(Token).get(), uuid, &answer).ok());
  EXPECT_EQ(answer.verdict().value(), "stopped");
  EXPECT_EQ(OpState(), Idle);
}

// Each refusal a scheduler can act on; nothing is sent on the line for any.
TEST_F(SilaTest, EachDefinedErrorRefusesTheRunAndNothingMoves) {
  struct TCase {
    const char *Task, *Error;
    std::function<void(bool)> Set;  // true: arrange, false: undo
  };
  const std::vector<TCase> cases = {
      {"T", "InvalidAccessToken", [](bool) {}},
      {"T", "RunsNotAllowed", [&](bool on) { Config.Remote.AllowRuns = !on, Start(); }},
      {"T", "NotConnected", [&](bool on) { Connected = !on; }},
      {"Nope", "UnknownTask", [](bool) {}},
      {"T", "QuestionOpen",
       [](bool on) { SendRunEvent(TRunEvent(on ? TRunEventKind::QuestionAsked : TRunEventKind::QuestionAnswered)); }},
      {"T", "Busy", [](bool on) { SetOpState(on ? Moving : Idle); }},
      {"T", "RecipeCheckFailed", [](bool on) { ProcTable[1].InSpeed = on ? 0 : 2; }},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Error);
    Start();
    c.Set(true);
    const size_t frames = Port.Sent.size();
    const auto [s, uuid] = RunTask(c.Task, c.Error == cases[0].Error ? "" : Token);
    EXPECT_EQ(s.error_code(), grpc::StatusCode::ABORTED);
    EXPECT_EQ(ErrorOf(s), c.Error == cases[0].Error
                              ? NoToken
                              : "org.kavetra/dipcoating/DipCoatingService/v1/DefinedExecutionError/" + std::string(c.Error));
    EXPECT_EQ(Port.Sent.size(), frames);
    c.Set(false);
  }
  EXPECT_TRUE(Logged("Lab automation: task T not started for 127.0.0.1: The recipe's tests failed: process \"A\": "
                     "its down or up speed is not above 0."));
}

}  // namespace
