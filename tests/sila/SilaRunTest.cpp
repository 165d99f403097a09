// A scheduler runs, follows and stops tasks through the SiLA 2 server, over
// TLS with the control token, on the simulated controllers.
#include <atomic>
#include <mutex>
#include <thread>

#include "SilaClient.h"
#include "base/OpState.h"
#include "tasks/RunEvents.h"

namespace {

TEST_F(SilaTest, ASchedulerRunsATaskAndFollowsItToTheRecord) {
  Start();
  std::mutex m;
  std::vector<fw::ExecutionInfo> infos;
  std::vector<dc::RunTask_IntermediateResponses> steps;
  std::vector<std::string> states;
  grpc::Status started, result;
  std::atomic<bool> done{false};
  dc::RunTask_Responses answer;
  auto stub = dc::DipCoatingService::NewStub(Channel());
  auto stateCtx = Ctx("");
  std::thread watcher([&] {  // State, from before the run to its end
    auto r = stub->Subscribe_State(stateCtx.get(), {});
    dc::Subscribe_State_Responses s;
    while (r->Read(&s)) {
      std::lock_guard<std::mutex> l(m);
      states.push_back(s.state().value());
    }
  });
  ASSERT_TRUE(Until([&] { std::lock_guard<std::mutex> l(m); return !states.empty(); }));
  std::thread scheduler([&] {
    dc::RunTask_Parameters p;
    p.mutable_taskname()->set_value("T");
    fw::CommandConfirmation c;
    started = stub->RunTask(Ctx(Token).get(), p, &c);
    auto infoCtx = Ctx(Token), interCtx = Ctx(Token);
    auto info = stub->RunTask_Info(infoCtx.get(), c.commandexecutionuuid());
    for (fw::ExecutionInfo i; info->Read(&i);) {
      std::lock_guard<std::mutex> l(m);
      infos.push_back(i);
    }
    auto inter = stub->RunTask_Intermediate(interCtx.get(), c.commandexecutionuuid());
    for (dc::RunTask_IntermediateResponses s; inter->Read(&s);) steps.push_back(s);
    result = stub->RunTask_Result(Ctx(Token).get(), c.commandexecutionuuid(), &answer);
    done = true;
  });
  // At each dip the run waits until the scheduler has seen a new ExecutionInfo.
  int dips = 0;
  size_t seen = 0;
  const int id = AddRunListener([&](const TRunEvent &e) { dips += e.Kind == TRunEventKind::DipStarted; });
  int handled = 0;
  OnPump = [&] {
    if (handled == dips) return;
    handled = dips;
    EXPECT_TRUE(Until([&] { std::lock_guard<std::mutex> l(m); return infos.size() > seen; }));
    std::lock_guard<std::mutex> l(m);
    seen = infos.size();
  };
  Until([&] { return done.load(); }, 60000);
  scheduler.join();
  EXPECT_TRUE(Until([&] { std::lock_guard<std::mutex> l(m); return states.back() == "connected"; }));
  stateCtx->TryCancel();
  watcher.join();
  RemoveRunListener(id);
  ASSERT_TRUE(started.ok()) << started.error_message();
  ASSERT_TRUE(result.ok()) << ErrorOf(result).DebugString();
  EXPECT_EQ(answer.verdict().value(), "done");
  EXPECT_EQ(answer.runrecord().value(), RunRecorder().Path());
  EXPECT_FALSE(answer.runrecord().value().empty());
  // Progress rises and the remaining time falls from the estimate; the end is 1 and 0.
  std::vector<double> running, remaining;
  for (const auto &i : infos) {
    if (i.commandstatus() != fw::ExecutionInfo::running) continue;
    EXPECT_GE(i.progressinfo().value(), running.empty() ? 0 : running.back());
    running.push_back(i.progressinfo().value());
    remaining.push_back(double(i.estimatedremainingtime().seconds()));
  }
  ASSERT_GE(running.size(), 3u);
  EXPECT_GT(running.back(), running.front());
  EXPECT_LT(remaining.back(), remaining.front());
  EXPECT_EQ(infos.back().commandstatus(), fw::ExecutionInfo::finishedSuccessfully);
  EXPECT_EQ(infos.back().progressinfo().value(), 1.0);
  ASSERT_EQ(steps.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(steps[k].step().process().value(), "A");
    EXPECT_EQ(steps[k].step().dip().value(), k + 1);
    EXPECT_EQ(steps[k].step().dips().value(), 3);
  }
  EXPECT_NE(std::find(states.begin(), states.end(), "running"), states.end());
  EXPECT_TRUE(Logged("Lab automation: task T started by 127.0.0.1"));
  EXPECT_TRUE(Logged("Sample:   Operator: lab automation (127.0.0.1)"));
  EXPECT_TRUE(Logged("Lab automation: task T ended: done"));
  // LastRun says the same.
  dc::Get_LastRun_Responses last;
  ASSERT_TRUE(stub->Get_LastRun(Ctx("").get(), {}, &last).ok());
  EXPECT_EQ(last.lastrun().verdict().value(), "done");
  EXPECT_EQ(last.lastrun().runrecord().value(), answer.runrecord().value());
}

TEST_F(SilaTest, StopDuringADipEndsTheRunStoppedAndZGetsS) {
  Start();
  bool sent = false;
  grpc::Status refused, stopped;
  OnPump = [&] {
    if (sent || OpState() != TaskRunning || !Axes[3].Moving) return;
    sent = true;
    auto stub = dc::DipCoatingService::NewStub(Channel());
    dc::Stop_Responses r;
    refused = OffThread([&] { return stub->Stop(Ctx(ReadToken).get(), {}, &r); });
    EXPECT_EQ(CountOf(3, "S"), 0);
    stopped = OffThread([&] { return stub->Stop(Ctx(Token).get(), {}, &r); });
    Until([&] { return StopRequest; });
  };
  const auto [s, uuid] = RunTask("T", Token);
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(ErrorOf(refused).definedexecutionerror().erroridentifier(),
            "org.silastandard/core/AuthorizationService/v1/DefinedExecutionError/InvalidAccessToken");
  EXPECT_TRUE(stopped.ok());
  EXPECT_GE(CountOf(3, "S"), 1);
  EXPECT_TRUE(Logged("Lab automation: STOP from 127.0.0.1"));
  EXPECT_TRUE(Logged("Lab automation: STOP refused to 127.0.0.1 (no valid access token)"));
  dc::RunTask_Responses answer;
  fw::CommandExecutionUUID id;
  id.set_value(uuid);
  auto stub = dc::DipCoatingService::NewStub(Channel());
  ASSERT_TRUE(stub->RunTask_Result(Ctx(Token).get(), id, &answer).ok());
  EXPECT_EQ(answer.verdict().value(), "stopped");
  EXPECT_EQ(OpState(), Idle);
}

// Each refusal a scheduler can act on, and nothing moved for any of them.
TEST_F(SilaTest, EachDefinedErrorRefusesTheRunAndNothingMoves) {
  struct TCase {
    const char *Name, *Task, *Error;
    std::function<void()> Arrange, Undo;
  };
  const std::string dip = "org.kavetra/dipcoating/DipCoatingService/v1/DefinedExecutionError/";
  const std::vector<TCase> cases = {
      {"no token", "T", "InvalidAccessToken", [] {}, [] {}},
      {"runs not allowed", "T", "RunsNotAllowed", [&] { Config.Remote.AllowRuns = false, Start(); },
       [&] { Config.Remote.AllowRuns = true; }},
      {"not connected", "T", "NotConnected", [&] { Connected = false; }, [&] { Connected = true; }},
      {"unknown task", "Nope", "UnknownTask", [] {}, [] {}},
      {"question", "T", "QuestionOpen", [] { SendRunEvent(TRunEvent(TRunEventKind::QuestionAsked)); },
       [] { SendRunEvent(TRunEvent(TRunEventKind::QuestionAnswered)); }},
      {"busy", "T", "Busy", [] { SetOpState(Moving); }, [] { SetOpState(Idle); }},
      {"recipe tests", "T", "RecipeCheckFailed", [] { ProcTable[1].InSpeed = 0; }, [] { ProcTable[1].InSpeed = 2; }},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Start();
    c.Arrange();
    const size_t frames = Port.Sent.size();
    const auto [s, uuid] = RunTask(c.Task, std::string(c.Name) == "no token" ? "" : Token);
    EXPECT_EQ(s.error_code(), grpc::StatusCode::ABORTED);
    const std::string id = ErrorOf(s).definedexecutionerror().erroridentifier();
    EXPECT_EQ(id.substr(id.rfind('/') + 1), c.Error);
    EXPECT_TRUE(std::string(c.Error) == "InvalidAccessToken" || id == dip + c.Error) << id;
    EXPECT_EQ(Port.Sent.size(), frames);
    c.Undo();
  }
  EXPECT_TRUE(Logged("Lab automation: task T not started for 127.0.0.1: The recipe's tests failed: process \"A\": "
                     "its down or up speed is not above 0."));
}

}  // namespace
