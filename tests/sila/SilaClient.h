#pragma once
// A SiLA 2 client made from the server's own .proto files, as a lab's
// scheduler would make it, and a server on a free port of 127.0.0.1 running
// tasks on the simulated controllers and the fake clock.
#include <future>
#include <grpcpp/grpcpp.h>

#include "AuthorizationService.grpc.pb.h"
#include "DipCoatingService.grpc.pb.h"
#include "SiLAService.grpc.pb.h"
#include "sila/SilaServer.h"
#include "remote/RemoteFixture.h"
#include "tasks/TaskRun.h"

namespace fw = sila2::org::silastandard;
namespace ss = sila2::org::silastandard::core::silaservice::v1;
namespace dc = sila2::org::kavetra::dipcoating::dipcoatingservice::v1;

// `f` on a thread of its own while this (the window) thread serves events.
template <class F>
auto OffThread(F f) {
  auto got = std::async(std::launch::async, f);
  Until([&] { return got.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60000);
  return got.get();
}
// The identifier of the defined error a status carries.
inline std::string ErrorOf(const grpc::Status &s) {
  fw::SiLAError e;
  e.ParseFromString(QByteArray::fromBase64(QByteArray::fromStdString(s.error_message())).toStdString());
  return e.definedexecutionerror().erroridentifier();
}
inline const std::string NoToken = "org.silastandard/core/AuthorizationService/v1/DefinedExecutionError/InvalidAccessToken";

class SilaTest : public ProcessTest {
protected:
  TWorkDir Work;
  TSilaServer::TConfig Config;
  std::unique_ptr<TSilaServer> Server;
  bool Connected = true;
  std::function<void()> OnPump;
  const std::string Token = std::string(64, 'c'), ReadToken = std::string(64, 'r');

  void SetUp() override {
    ProcessTest::SetUp();
    AppendProcess(Proc("A", 5, 5, 3));
    AppendTask({"T", "A"});
    Config.Remote = {0, false, Token, ReadToken, {}, true};
    Config.Uuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
    Config.Version = "1.2.3";
    TSilaCert cert;
    std::string error;
    ASSERT_TRUE(LoadOrMakeSilaCert(".", Config.Uuid, cert, error)) << error;
    Config.CertPem = cert.CertPem, Config.KeyPem = cert.KeyPem;
    // The window's events (posted calls, the refresh timer) are served at every pump of a run.
    H.Events.OnPump = [this] {
      QCoreApplication::processEvents();
      if (OnPump) OnPump();
    };
  }
  void TearDown() override { Server.reset(), ProcessTest::TearDown(); }
  void Start() {
    TSilaServer::THooks h;
    h.Connected = [this] { return Connected; };
    h.Run = [](uint8_t task, const std::string &who) {
      CurTask = task;
      const TRunLabels labels{"", "lab automation (" + who + ")"};
      TaskStart(nullptr, &labels);
    };
    Server = std::make_unique<TSilaServer>(Config, h);
    std::string error;
    ASSERT_TRUE(Server->Start(error)) << error;
  }
  // TLS trusting `rootPem` (the made certificate by default); none when empty.
  std::shared_ptr<grpc::Channel> Channel(const std::string *rootPem = nullptr) const {
    grpc::ChannelArguments a;
    a.SetSslTargetNameOverride("localhost");
    grpc::SslCredentialsOptions o;
    o.pem_root_certs = rootPem ? *rootPem : Config.CertPem;
    const std::string to = "127.0.0.1:" + std::to_string(Server->Port());
    return o.pem_root_certs.empty() ? grpc::CreateChannel(to, grpc::InsecureChannelCredentials())
                                    : grpc::CreateCustomChannel(to, grpc::SslCredentials(o), a);
  }
  std::unique_ptr<dc::DipCoatingService::Stub> Dip(const std::string *rootPem = nullptr) const {
    return dc::DipCoatingService::NewStub(Channel(rootPem));
  }
  // A call's context with the access token `token` ("" none).
  static std::unique_ptr<grpc::ClientContext> Ctx(const std::string &token, int seconds = 60) {
    auto c = std::make_unique<grpc::ClientContext>();
    c->set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(seconds));
    sila2::org::silastandard::core::authorizationservice::v1::Metadata_AccessToken t;
    t.mutable_accesstoken()->set_value(token);
    if (!token.empty()) c->AddMetadata(SilaAccessTokenHeader, t.SerializeAsString());
    return c;
  }
  // RunTask of `task` (returns when the run it started has ended); the status and the execution.
  std::pair<grpc::Status, fw::CommandExecutionUUID> RunTask(const std::string &task, const std::string &token) {
    return OffThread([&] {
      dc::RunTask_Parameters p;
      p.mutable_taskname()->set_value(task);
      fw::CommandConfirmation c;
      const grpc::Status s = Dip()->RunTask(Ctx(token).get(), p, &c);
      return std::make_pair(s, c.commandexecutionuuid());
    });
  }
};
