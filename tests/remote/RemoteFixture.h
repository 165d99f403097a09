#pragma once
// A remote server on a free port of 127.0.0.1 in a fresh working folder, and
// raw exchanges with it from this thread (the event loop runs while waiting).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <string>

#include "remote/RemoteServer.h"
#include "support/Fakes.h"
#include "support/TempDir.h"
#include "tasks/ProcessFixture.h"

// The status code of an answer, 0 when there is none.
inline int StatusOf(const std::string &answer) {
  return answer.compare(0, 9, "HTTP/1.1 ") != 0 ? 0 : std::atoi(answer.c_str() + 9);
}

inline std::string BodyOf(const std::string &answer) {
  const size_t at = answer.find("\r\n\r\n");
  return at == std::string::npos ? "" : answer.substr(at + 4);
}

// Runs the event loop until `done` (or a guard against a hang runs out).
template <class F>
bool Until(F done, int guardMs = 20000) {
  QElapsedTimer guard;
  guard.start();
  while (!done() && guard.elapsed() < guardMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

// A connection the test keeps open: it sends `bytes` from `from` and
// keeps what comes back.
struct TConn {
  QTcpSocket S;
  QByteArray Got;
  TConn(quint16 port, const QByteArray &bytes, const char *from = "127.0.0.1") {
    QObject::connect(&S, &QTcpSocket::readyRead, [this] { Got += S.readAll(); });
    S.bind(QHostAddress(from));
    S.connectToHost(QHostAddress::LocalHost, port);
    S.write(bytes);
  }
  bool Closed() const { return S.state() == QAbstractSocket::UnconnectedState; }
  // Without running events (so a status, built on this thread, waits):
  // sends what was written, and takes all the server sends until it closes.
  void Send() {
    S.waitForConnected(20000);
    S.waitForBytesWritten(20000);
  }
  std::string Rest() {
    while (!Closed() && S.waitForReadyRead(20000)) {}
    return Got.toStdString();
  }
};

// Sends `request` as it stands and returns all the server answers until it
// closes ("" when nothing came within the guard time).
inline std::string Exchange(quint16 port, const QByteArray &request) {
  TConn c(port, request);
  Until([&] { return c.Closed(); });
  return c.Got.toStdString();
}

class RemoteTest : public TTempDirTest {
protected:
  THostFixture H;
  TRunWatch Watch;
  std::unique_ptr<TRemoteServer> Server;
  TRemoteSettings Settings;
  const std::string Token = std::string(64, 'a'), ReadToken = std::string(64, 'r');

  void Start(bool lab, const TRemoteLimits &limits = {}) {
    StopRequest = false;  // a run of an earlier test may have left it set
    Settings = {0, lab, Token, ReadToken, {}};  // port 0: any free one; the test reads it back
    Server.reset();
    Server = std::make_unique<TRemoteServer>(Watch, Settings, "runs", limits);
    std::string error;
    ASSERT_TRUE(Server->Start(error)) << error;
  }
  void TearDown() override {
    Server.reset();
    TTempDirTest::TearDown();
  }
  // "Host: 127.0.0.1:<port>", as a browser on this computer sends it.
  std::string Host() const { return "Host: 127.0.0.1:" + std::to_string(Server->Port()) + "\r\n"; }
  std::string Get(const std::string &target, const std::string &headers = "") {
    return Exchange(Server->Port(), QByteArray::fromStdString("GET " + target + " HTTP/1.1\r\n" + Host() +
                                                              headers + "\r\n"));
  }
  std::string Post(const std::string &target, const std::string &headers = "") {
    return Exchange(Server->Port(), QByteArray::fromStdString("POST " + target + " HTTP/1.1\r\n" + Host() +
                                                              headers + "Content-Length: 0\r\n\r\n"));
  }
};

// Task runs on the simulated controllers and the fake clock, in a fresh
// working folder (the run writes its record there).
class RemoteRunTest : public ProcessTest {
protected:
  TWorkDir Work;  // the run writes its record there
  // A server on `settings` with a token of `c`s, started.
  std::unique_ptr<TRemoteServer> Serve(TRunWatch &watch, TRemoteSettings &settings, char c) {
    settings.Token = std::string(64, c);
    settings.ReadToken = std::string(64, char(c + 1));
    auto server = std::make_unique<TRemoteServer>(watch, settings);
    std::string error;
    EXPECT_TRUE(server->Start(error)) << error;
    return server;
  }
};
