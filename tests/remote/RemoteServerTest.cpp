// The remote server's answers as a client sees them on the socket: bad
// input, the token, the status picture from run events, the run records.
#include <filesystem>

#include "RemoteFixture.h"
#include <QJsonDocument>

#include "base/OpState.h"
#include "record/RunRecord.h"

namespace {

// Every kind of bad request gets its one answer, and the server goes on.
TEST_F(RemoteTest, BadInputGetsAClearAnswerAndTheServerGoesOn) {
  Start(false);
  std::filesystem::create_directory("runs");
  Put("runs/2026-12-07_10-00-00_T.csv", RecordHeader() + "\n");
  Put("KVSettings.ini", "[Remote]\r\nToken=secret\r\n");
  Put("outside.csv", "secret\n");
  std::filesystem::create_symlink("../outside.csv", "runs/link.csv");  // links lead out: not served
  const std::string big(HttpMaxBody + 1, 'x');
  const std::string head = Host();
  const std::vector<std::pair<std::string, int>> cases = {
      {"garbage\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nno colon here\r\n\r\n", 400},
      {"POST /api/stop HTTP/1.1\r\nContent-Length: 12x\r\n\r\n", 400},
      {"POST /api/stop HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", 400},
      {"POST /api/stop HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nX: " + std::string(HttpMaxHead, 'h') + "\r\n\r\n", 400},
      {"GET /api/status HTTP/1.1\r\n\r\nGET /api/status HTTP/1.1\r\n\r\n", 400},
      {"POST /api/stop HTTP/1.1\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big, 413},
      {"DELETE / HTTP/1.1\r\n\r\n", 405},
      {"POST /api/status HTTP/1.1\r\n" + head + "Content-Length: 0\r\n\r\n", 405},
      {"GET /api/stop HTTP/1.1\r\n" + head + "\r\n", 405},
      {"GET /nothing HTTP/1.1\r\n" + head + "\r\n", 404},
      {"GET /api/runs/none.csv HTTP/1.1\r\n" + head + "\r\n", 404},
      {"GET /api/runs/../KVSettings.ini HTTP/1.1\r\n" + head + "\r\n", 400},
      {"GET /api/runs/..%2FKVSettings.ini HTTP/1.1\r\n" + head + "\r\n", 400},
      {"GET /api/runs/..%5CKVSettings.ini HTTP/1.1\r\n" + head + "\r\n", 400},
      {"GET /api/runs/.hidden.csv HTTP/1.1\r\n" + head + "\r\n", 400},
      {"GET /api/runs/link.csv HTTP/1.1\r\n" + head + "\r\n", 404},
      {"GET /api/runs/ HTTP/1.1\r\n" + head + "\r\n", 400},
      {"GET /other HTTP/1.1\r\n" + head + "Upgrade: websocket\r\nConnection: Upgrade\r\n\r\n", 400},
      {"POST /api/stop HTTP/1.1\r\n" + head + "Content-Length: 0\r\n\r\n", 401},
  };
  for (const auto &[request, status] : cases) {
    SCOPED_TRACE(request.substr(0, 80));
    const std::string answer = Exchange(Server->Port(), QByteArray::fromStdString(request));
    EXPECT_EQ(StatusOf(answer), status) << answer.substr(0, 200);
    EXPECT_EQ(BodyOf(answer).find("secret"), std::string::npos);
  }
  EXPECT_EQ(StatusOf(Get("/api/runs/2026-12-07_10-00-00_T.csv")), 200);
  EXPECT_EQ(StatusOf(Get("/api/status")), 200);
  // Nothing was stopped; the one refusal of the token is logged.
  EXPECT_EQ(H.Report.Joined(), "Remote access refused to 127.0.0.1: POST /api/stop (401)\n");
}

// Local: reading needs no token. Lab: every request needs the read or the
// control token, from the link or the header (the scheme in any case).
// STOP always needs the control token in the header; a 401 names Bearer.
TEST_F(RemoteTest, TheTokensGuardReadingOnTheLabNetworkAndStopEverywhere) {
  for (bool lab : {false, true}) {
    SCOPED_TRACE(lab);
    Start(lab);
    const int bare = lab ? 401 : 200;
    for (const char *path : {"/", "/api/status", "/api/runs", "/api/version"}) EXPECT_EQ(StatusOf(Get(path)), bare);
    EXPECT_EQ(StatusOf(Get("/api/status?token=" + Token)), bare);  // the control token stays off links
    EXPECT_EQ(StatusOf(Get("/api/status", "Authorization: Bearer " + ReadToken.substr(1) + "\r\n")), bare);
    EXPECT_EQ(StatusOf(Get("/api/status", "Cookie: kv_token=" + ReadToken + "\r\n")), bare);
    EXPECT_EQ(StatusOf(Get("/?token=" + ReadToken)), 200);
    for (const char *scheme : {"Bearer ", "bearer ", "BEARER  "})
      for (const std::string &t : {ReadToken, Token})
        EXPECT_EQ(StatusOf(Get("/api/status", std::string("Authorization: ") + scheme + t + "\r\n")), 200) << scheme;
    for (const std::string &h :
         {std::string(), "Authorization: Bearer " + ReadToken + "\r\n", "Authorization: Bearer " + Token + "x\r\n",
          "Authorization: " + Token + "\r\n", "Authorization: Basic " + Token + "\r\n"}) {
      const std::string answer = Post("/api/stop?token=" + Token, h);
      EXPECT_EQ(StatusOf(answer), 401) << h;
      EXPECT_NE(answer.find("\r\nWWW-Authenticate: Bearer\r\n"), std::string::npos);
    }
    EXPECT_FALSE(StopRequest);
    // Each refusal counts, but an address is logged once a minute.
    EXPECT_EQ(H.Report.Joined(), std::string("Remote access refused to 127.0.0.1: ") +
                                     (lab ? "GET / (401)\n" : "POST /api/stop (401)\n"));
    H.Report.Lines.clear();
  }
}

// The status follows the run events; a question shows as the state.
TEST_F(RemoteTest, StatusFollowsTheRunEvents) {
  Start(false);
  Axes[3].Position = 4.25;
  auto status = [this] {
    return QJsonDocument::fromJson(QByteArray::fromStdString(BodyOf(Get("/api/status")))).object();
  };
  EXPECT_EQ(status()["state"].toString(), "idle");
  SetOpState(TaskRunning);
  TRunEvent e;
  e.Task = "T";
  SendRunEvent(e);
  e.Kind = TRunEventKind::DipStarted, e.Process = "Coat", e.Dip = 2, e.Dips = 3;
  H.Clock.Now += 1500;
  SendRunEvent(e);
  QJsonObject o = status(), seen;
  for (const char *key : {"schema", "state", "task", "process", "dip", "dips", "z", "elapsed_s"}) seen[key] = o[key];
  EXPECT_EQ(QJsonDocument(seen).toJson(QJsonDocument::Compact).toStdString(),
            R"({"dip":2,"dips":3,"elapsed_s":1.5,"process":"Coat","schema":1,"state":"running","task":"T","z":4.25})");
  e.Kind = TRunEventKind::QuestionAsked, e.Text = "Emergency stop?";
  SendRunEvent(e);
  EXPECT_EQ(status()["state"].toString(), "question");
  EXPECT_EQ(status()["question"].toString(), "Emergency stop?");
  e.Kind = TRunEventKind::QuestionAnswered;
  SendRunEvent(e);
  e.Kind = TRunEventKind::RunEnded, e.End = "stopped";
  SendRunEvent(e);
  SetOpState(Idle);
  o = status();
  EXPECT_EQ(o["state"].toString(), "idle");
  EXPECT_EQ(o["last_end"].toString(), "stopped");
  EXPECT_EQ(o["elapsed_s"].toDouble(), 1.5);
}

// The records, newest first, with their task and how and when they ended.
TEST_F(RemoteTest, RunsListTheRecordsNewestFirst) {
  Start(false);
  std::filesystem::create_directory("runs");
  TRecordRow row;
  row.Task = "T/1", row.Mode = RecordTravel;
  const std::string first = FormatRecordRow(row);
  row.Mode = RecordEnd, row.End = EndDone, row.TopAt = 65000;
  Put("runs/2026-12-07_10-00-00_T_1.csv", RecordHeader() + "\n" + first + "\n" + FormatRecordRow(row) + "\n");
  Put("runs/2026-12-07_11-00-00_T_1.csv", RecordHeader() + "\n" + first + "\n");
  Put("runs/notes.txt", "");
  std::filesystem::create_symlink("2026-12-07_10-00-00_T_1.csv", "runs/2026-12-07_12-00-00_L.csv");  // not listed
  EXPECT_EQ(BodyOf(Get("/api/runs")),
            R"([{"end":null,"how":null,"name":"2026-12-07_11-00-00_T_1.csv","start":"2026-12-07 11:00:00",)"
            R"("task":"T/1"},{"end":"2026-12-07 10:01:05","how":"done","name":"2026-12-07_10-00-00_T_1.csv",)"
            R"("start":"2026-12-07 10:00:00","task":"T/1"}])");
}

}  // namespace
