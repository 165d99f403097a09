// Hostile clients against the real server on the loopback, one case at each
// limit of the server: the refusal, and a well-behaved client served while
// the hostile ones hold on.
#include <QWebSocket>
#include <set>
#include <unistd.h>

#include "RemoteFixture.h"

namespace {

const std::string Key = "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
const std::string Ws = "Upgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n";

class HostileTest : public RemoteTest {
protected:
  std::vector<std::unique_ptr<TConn>> Conns;
  // `n` connections sending `bytes`, from 127.0.0.1 or each from an address of its own.
  void Open(int n, const std::string &bytes, bool many = false) {
    for (int i = 0; i < n; ++i) {
      const std::string from = many ? "127.0.0." + std::to_string(2 + Conns.size()) : "127.0.0.1";
      Conns.push_back(std::make_unique<TConn>(Server->Port(), QByteArray::fromStdString(bytes), from.c_str()));
    }
    // All sent before anything else comes: what the server got is what the case says.
    Until([&] { return std::all_of(Conns.begin(), Conns.end(), [](auto &c) { return !c->S.bytesToWrite(); }); });
  }
  int Closed() const {
    return int(std::count_if(Conns.begin(), Conns.end(), [](auto &c) { return c->Closed(); }));
  }
  int Answered(const char *status) const {
    return int(std::count_if(Conns.begin(), Conns.end(), [&](auto &c) { return c->Got.startsWith(status); }));
  }
  void Served() { EXPECT_EQ(StatusOf(Get("/api/status")), 200); }
};

// Only a whole WebSocket upgrade is let through; anything else that asks
// for an upgrade is answered 400 and closed, none left open.
TEST_F(HostileTest, HalfUpgradesAreAnsweredAndClosed) {
  Start(false);
  for (const std::string &h : {std::string("Upgrade: h2c\r\nConnection: Upgrade\r\n"), "Upgrade: websocket\r\n" + Key,
                               Ws, Ws + "Sec-WebSocket-Key: c2hvcnQ=\r\nSec-WebSocket-Version: 13\r\n",
                               Ws + "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 8\r\n",
                               "Connection: Upgrade\r\n" + Key})
    Open(5, "GET /api/events HTTP/1.1\r\n" + Host() + h + "\r\n", true);
  Open(5, "GET / HTTP/1.1\r\n" + Host() + Ws + Key + "\r\n", true);
  Served();
  EXPECT_TRUE(Until([&] { return Closed() == 35; }));
  EXPECT_EQ(Answered("HTTP/1.1 400 "), 35);
}

// Connections that send half a head: an address keeps 4 waiting, all keep
// 16 (test limits); a new one drops the oldest, so the well-behaved client
// gets in; the rest are answered 408 when their time is out.
TEST_F(HostileTest, SlowHeadsDropTheOldestAndTimeOut) {
  struct TCase {
    int Many, Count, HeadTimeoutMs, Closed, TimedOut;
  } cases[] = {{0, 40, 60000, 36, 0}, {1, 40, 60000, 24, 0}, {1, 3, 300, 3, 3}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Count);
    TRemoteLimits limits;
    limits.MaxWaiting = 16, limits.HeadTimeoutMs = c.HeadTimeoutMs;
    Start(false, limits);
    Conns.clear();
    Open(c.Count, "GET /api/status HTTP/1.1\r\n", c.Many);
    EXPECT_TRUE(Until([&] { return Closed() == c.Closed; })) << Closed();
    Served();  // it may drop one more, unless its request came with it
    EXPECT_LE(Closed(), c.Closed + 1);
    EXPECT_EQ(Answered("HTTP/1.1 "), c.TimedOut);  // the dropped ones get no answer
    EXPECT_EQ(Answered("HTTP/1.1 408 "), c.TimedOut);
  }
}

// Local means this computer: its names with the server's port, and no
// request from a page of another origin. Lab: the token, and no other origin.
TEST_F(HostileTest, ForeignHostAndOriginAreRefused) {
  for (bool lab : {false, true}) {
    Start(lab);
    const std::string p = std::to_string(Server->Port()), read = "Authorization: Bearer " + ReadToken + "\r\n";
    std::vector<std::pair<std::string, int>> cases = {
        {"Host: evil.example:" + p + "\r\n", lab ? 200 : 403},
        {"Host: 127.0.0.1:1\r\n", lab ? 200 : 403},
        {"", lab ? 200 : 403},
        {"Host: LOCALHOST:" + p + "\r\n", 200},
        {"Host: [::1]:" + p + "\r\n", 200},
        {"Host: 127.0.0.1:" + p + "\r\nHost: evil.example\r\n", 400},
        {Host() + "Origin: http://evil.example\r\n", 403},
        {Host() + "Origin: null\r\n", 403},
        {Host() + "Origin: http://127.0.0.1:" + p + "\r\n", 200},
        {Host() + "Origin: http://evil.example\r\n" + Ws + Key, 403},
    };
    if (!lab) cases.push_back({"Host: evil.example:" + p + "\r\n" + Ws + Key, 403});
    for (const auto &[headers, status] : cases) {
      const std::string target = headers.find("Upgrade") != std::string::npos ? "/api/events" : "/api/status";
      const std::string answer = Exchange(Server->Port(), QByteArray::fromStdString(
                                                              "GET " + target + " HTTP/1.1\r\n" + headers + read + "\r\n"));
      EXPECT_EQ(StatusOf(answer), status) << lab << headers;
    }
  }
}

// One request per connection: a second one sent while the first waits past
// the door (for the status, which this thread builds) aborts the connection,
// even a STOP with the control token; whenever it comes, it is not served.
TEST_F(HostileTest, ASecondRequestOnAConnectionIsNotServed) {
  Start(false);
  TConn c(Server->Port(), QByteArray::fromStdString("GET /api/status HTTP/1.1\r\n" + Host() + "\r\n"));
  c.Send();
  usleep(100000);  // mostly lets the first pass the door first; either order is refused
  c.S.write(QByteArray::fromStdString("POST /api/stop HTTP/1.1\r\n" + Host() + "Authorization: Bearer " + Token +
                                      "\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"));
  c.Send();
  const std::string answer = c.Rest();
  EXPECT_TRUE(answer.empty() || StatusOf(answer) == 400) << answer;
  Served();
  EXPECT_FALSE(StopRequest);
}

// 64 upgrades back to back against the limit of 32: exactly 32 open, the
// rest get 503; the places come back when they close.
TEST_F(HostileTest, AnUpgradeBurstGetsExactlyTheLimit) {
  Start(false);
  Open(64, "GET /api/events HTTP/1.1\r\n" + Host() + Ws + Key + "\r\n", true);
  Served();
  EXPECT_TRUE(Until([&] { return Answered("HTTP/1.1 101 ") + Answered("HTTP/1.1 503 ") == 64; }));
  EXPECT_EQ(Answered("HTTP/1.1 101 "), 32);
  EXPECT_TRUE(Until([&] { return Server->WebSocketCount() == 32; }));
  Conns.clear();
  EXPECT_TRUE(Until([&] { return Server->WebSocketCount() == 0; }));
  Open(1, "GET /api/events HTTP/1.1\r\n" + Host() + Ws + Key + "\r\n");
  EXPECT_TRUE(Until([&] { return Answered("HTTP/1.1 101 ") == 1; }));
}

// Past the door (test limit 8): one of nine gets 503 at once; those never
// answered (this thread builds no status meanwhile) are dropped at the
// answer's time-out; then the server serves again.
TEST_F(HostileTest, WaitingPastTheDoorIsBoundedInCountAndTime) {
  TRemoteLimits limits;
  limits.MaxHandedOver = 8, limits.AnswerTimeoutMs = 300;
  Start(false, limits);
  std::vector<std::unique_ptr<TConn>> conns(9);
  for (auto &c : conns) (c = std::make_unique<TConn>(Server->Port(), QByteArray::fromStdString("GET /api/status HTTP/1.1\r\n" + Host() + "\r\n")))->Send();
  std::multiset<int> got;
  for (auto &c : conns) got.insert(StatusOf(c->Rest()));
  EXPECT_EQ(got, std::multiset<int>({0, 0, 0, 0, 0, 0, 0, 0, 503}));
  Served();
}

// A WebSocket that answers no ping is dropped; one that does stays.
TEST_F(HostileTest, ASilentWebSocketIsDropped) {
  TRemoteLimits limits;
  limits.PingMs = 1000;
  Start(false, limits);
  QWebSocket good;
  good.open(QUrl("ws://127.0.0.1:" + QString::number(Server->Port()) + "/api/events"));
  Open(1, "GET /api/events HTTP/1.1\r\n" + Host() + Ws + Key + "\r\n");
  EXPECT_TRUE(Until([&] { return Closed() == 1; }));
  EXPECT_TRUE(Conns[0]->Got.startsWith("HTTP/1.1 101 "));
  EXPECT_EQ(good.state(), QAbstractSocket::ConnectedState);
  Served();
}

}  // namespace
