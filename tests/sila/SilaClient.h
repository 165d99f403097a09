#pragma once
// A SiLA 2 client made from the server's own .proto files, as a lab's
// scheduler would make it, and a server on a free port of 127.0.0.1 running
// tasks on the simulated controllers and the fake clock.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <future>
#include <grpcpp/grpcpp.h>

#include "AuthorizationService.grpc.pb.h"
#include "DipCoatingService.grpc.pb.h"
#include "SiLAService.grpc.pb.h"
#include "sila/SilaServer.h"
#include "support/TempDir.h"
#include "tasks/ProcessFixture.h"
#include "tasks/TaskRun.h"

namespace fw = sila2::org::silastandard;
namespace ss = sila2::org::silastandard::core::silaservice::v1;
namespace dc = sila2::org::kavetra::dipcoating::dipcoatingservice::v1;

template <class F>
bool Until(F done, int guardMs = 20000) {
  QElapsedTimer guard;
  guard.start();
  while (!done() && guard.elapsed() < guardMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}
// `f` on a thread of its own while this (the window) thread serves events.
template <class F>
auto OffThread(F f) {
  auto got = std::async(std::launch::async, f);
  Until([&] { return got.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60000);
  return got.get();
}

// The SiLA error a status carries ("" identifier for other kinds).
inline fw::SiLAError ErrorOf(const grpc::Status &s) {
  fw::SiLAError e;
  e.ParseFromString(QByteArray::fromBase64(QByteArray::fromStdString(s.error_message())).toStdString());
  return e;
}

class SilaTest : public ProcessTest {
protected:
  TWorkDir Work;
  TSilaServer::TConfig Config;
  std::unique_ptr<TSilaServer> Server;
  bool Connected = true;
  const std::string Token = std::string(64, 'c'), ReadToken = std::string(64, 'r');

  void SetUp() override {
    ProcessTest::SetUp();
    AppendProcess(Proc("A", 5, 5, 3));
    AppendTask({"T", "A"});
    Config.Remote.Token = Token;
    Config.Remote.ReadToken = ReadToken;
    Config.Remote.AllowRuns = true;
    Config.Uuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
    Config.Version = "1.2.3";
    TSilaCert cert;
    std::string error;
    ASSERT_TRUE(LoadOrMakeSilaCert(".", Config.Uuid, cert, error)) << error;
    Config.CertPem = cert.CertPem;
    Config.KeyPem = cert.KeyPem;
    // Events of the window (posted calls, the refresh timer) are served at every pump of a run.
    H.Events.OnPump = [this] {
      QCoreApplication::processEvents();
      if (OnPump) OnPump();
    };
  }
  void TearDown() override {
    Server.reset();
    ProcessTest::TearDown();
  }
  std::function<void()> OnPump;
  void Start() {
    TSilaServer::THooks h;
    h.Connected = [this] { return Connected; };
    h.Run = [](uint8_t task, const std::string &who) {
      CurTask = task;
      TRunLabels labels{"", "lab automation (" + who + ")"};
      TaskStart(nullptr, &labels);
    };
    Server = std::make_unique<TSilaServer>(Config, h);
    std::string error;
    ASSERT_TRUE(Server->Start(error)) << error;
  }
  std::shared_ptr<grpc::Channel> Channel(const std::string &rootPem) const {
    grpc::ChannelArguments a;
    a.SetSslTargetNameOverride("localhost");
    grpc::SslCredentialsOptions o;
    o.pem_root_certs = rootPem;
    const std::string target = "127.0.0.1:" + std::to_string(Server->Port());
    return rootPem.empty() ? grpc::CreateChannel(target, grpc::InsecureChannelCredentials())
                           : grpc::CreateCustomChannel(target, grpc::SslCredentials(o), a);
  }
  std::shared_ptr<grpc::Channel> Channel() const { return Channel(Config.CertPem); }
  // A call's context with the access token `token` ("" none).
  static std::unique_ptr<grpc::ClientContext> Ctx(const std::string &token) {
    auto c = std::make_unique<grpc::ClientContext>();
    c->set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
    if (!token.empty()) {
      sila2::org::silastandard::core::authorizationservice::v1::Metadata_AccessToken t;
      t.mutable_accesstoken()->set_value(token);
      c->AddMetadata(SilaAccessTokenHeader, t.SerializeAsString());
    }
    return c;
  }
  // RunTask of `task`; the status and the execution's uuid.
  std::pair<grpc::Status, std::string> RunTask(const std::string &task, const std::string &token) {
    return OffThread([&] {
      auto stub = dc::DipCoatingService::NewStub(Channel());
      dc::RunTask_Parameters p;
      p.mutable_taskname()->set_value(task);
      fw::CommandConfirmation c;
      auto ctx = Ctx(token);
      const grpc::Status s = stub->RunTask(ctx.get(), p, &c);
      return std::make_pair(s, c.commandexecutionuuid().value());
    });
  }
};
