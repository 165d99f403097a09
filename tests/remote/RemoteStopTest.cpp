// STOP from the network during a task run on the simulated controllers: the
// read token changes nothing on the line; with it the Z controller gets "S".
// (Without a run the remote STOP is the manual STOP: the same StopAll().)
#include "RemoteFixture.h"
#include "tasks/TaskRun.h"

namespace {

TEST_F(RemoteRunTest, OnlyTheTokenStopsTheRunAndZGetsS) {
  TRunWatch watch;
  TRemoteSettings settings;
  const auto server = Serve(watch, settings, 'c');
  ASSERT_TRUE(server);
  AppendProcess(Proc("A", 5, 5, 3));
  AppendTask({"T", "A"});
  CurTask = TaskCount;
  H.Operator.Answers = {mbAbort};
  std::string refused, stopped;
  size_t framesBefore = 0, framesAfterRefused = 0;
  bool stopBeforeToken = true;
  H.Events.OnPump = [&] {
    if (!refused.empty() || OpState() != TaskRunning || !Axes[3].Moving) return;
    framesBefore = Port.Sent.size();
    const std::string post = "POST /api/stop HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->Port()) +
                             "\r\nContent-Length: 0\r\n";
    refused = Exchange(server->Port(),  // the read token cannot stop
                       QByteArray::fromStdString(post + "Authorization: Bearer " + settings.ReadToken + "\r\n\r\n"));
    // Frames the poll sends meanwhile are only reads; no "S" and no flag.
    framesAfterRefused = Port.Sent.size();
    stopBeforeToken = StopRequest || CountOf(3, "S") > 0;
    stopped = Exchange(server->Port(), QByteArray::fromStdString(post + "Authorization: bearer " +
                                                                 settings.Token + "\r\n\r\n"));
  };
  TaskStart();
  EXPECT_EQ(StatusOf(refused), 401);
  EXPECT_EQ(framesAfterRefused, framesBefore);
  EXPECT_FALSE(stopBeforeToken);
  EXPECT_EQ(StatusOf(stopped), 200);
  EXPECT_GE(CountOf(3, "S"), 1);
  EXPECT_TRUE(H.Report.Has("Stop Execution"));
  EXPECT_EQ(LoggedCount("Remote STOP from 127.0.0.1"), 1);
  EXPECT_EQ(OpState(), Idle);
}

}  // namespace
