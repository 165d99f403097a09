// The SiLA 2 server's cost to the robot's timing: the dip cycle of
// dip_cycle.cpp (veri-sim, three dips) with the server on (TLS) and no
// client, then with 10 schedulers each subscribed to State and Position;
// the holds at the bottom and top against their nominal.
#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <grpcpp/grpcpp.h>
#include <thread>
#include <vector>

#include "BenchLine.h"
#include "DipHolds.h"
#include "DipCoatingService.grpc.pb.h"
#include "base/Host.h"
#include "sila/SilaServer.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"
#include "tasks/RunEvents.h"

namespace {
namespace dc = sila2::org::kavetra::dipcoating::dipcoatingservice::v1;

struct TSubscribers {
  std::atomic<int> Values{0};
  std::vector<std::unique_ptr<grpc::ClientContext>> Contexts;
  std::vector<std::thread> Threads;
  TSubscribers(int port, const std::string &cert, int clients) {
    grpc::SslCredentialsOptions o;
    o.pem_root_certs = cert;
    grpc::ChannelArguments a;
    a.SetSslTargetNameOverride("localhost");
    for (int i = 0; i < clients; ++i) {
      auto ch = grpc::CreateCustomChannel("127.0.0.1:" + std::to_string(port), grpc::SslCredentials(o), a);
      for (int which = 0; which < 2; ++which) {
        Contexts.push_back(std::make_unique<grpc::ClientContext>());
        grpc::ClientContext *ctx = Contexts.back().get();
        Threads.emplace_back([this, ch, ctx, which] {
          auto stub = dc::DipCoatingService::NewStub(ch);
          if (which == 0) {
            auto r = stub->Subscribe_State(ctx, {});
            for (dc::Subscribe_State_Responses m; r->Read(&m);) ++Values;
          } else {
            auto r = stub->Subscribe_Position(ctx, {});
            for (dc::Subscribe_Position_Responses m; r->Read(&m);) ++Values;
          }
        });
      }
    }
  }
  ~TSubscribers() {
    for (auto &c : Contexts) c->TryCancel();
    for (auto &t : Threads) t.join();
  }
};
}  // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  TSilaServer::TConfig c;
  c.Uuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
  c.Version = "1.0";
  TSilaCert cert;
  std::string why;
  if (!LoadOrMakeSilaCert("/tmp", c.Uuid, cert, why)) {
    std::printf("sila_load: failed (%s)\n", why.c_str());
    return 1;
  }
  c.CertPem = cert.CertPem, c.KeyPem = cert.KeyPem;
  TSilaServer::THooks h;
  h.Connected = [] { return true; };
  TSilaServer server(c, h);
  if (!server.Start(why)) {
    std::printf("sila_load: failed (%s)\n", why.c_str());
    return 1;
  }
  TDipHoldsBench bench;
  if (!bench.Open("sila_load")) return 1;
  TDipSteps &steps = bench.Steps;
  DipHoldsLine("sila_dip_holds_over_nominal", "no_clients", steps);
  {
    TSubscribers subs(server.Port(), cert.CertPem, 10);
    DipHoldsLine("sila_dip_holds_over_nominal", "10_schedulers_state_position", steps);
    std::printf("sila_load_values: %d property values sent to 20 subscriptions\n", subs.Values.load());
  }
  DipHoldsLine("sila_dip_holds_over_nominal", "no_clients_again", steps);
  Host() = THost();
  VeriPort() = nullptr;
  bench.Port.SetActive(false);
  return 0;
}
