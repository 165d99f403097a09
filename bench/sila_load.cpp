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
#include "DipCoatingService.grpc.pb.h"
#include "base/Host.h"
#include "sila/SilaServer.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"
#include "tasks/RunEvents.h"

namespace {
namespace dc = sila2::org::kavetra::dipcoating::dipcoatingservice::v1;

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

class TPump : public IEventPump {
public:
  void ProcessMessages() override { QCoreApplication::processEvents(); }
};

class TSteps : public IReportSink {
public:
  std::vector<std::pair<int, double>> Steps;
  int Dip = 0;
  void AppendLine(const std::string &line) override {
    const std::string head = "$ ChMode, ProcAction, ChNumber, Action:";
    if (line.compare(0, head.size(), head) != 0) return;
    const size_t a = line.find("; ");
    if (a == std::string::npos) return;
    const int step = std::atoi(line.c_str() + a + 2);
    Steps.emplace_back(step, Now());
    if (step == 1) {
      TRunEvent e(TRunEventKind::DipStarted);
      e.Process = "Bench", e.Dip = ++Dip, e.Dips = 3;
      SendRunEvent(e);
    }
  }
};

void Cycle(const char *tag, TSteps &steps) {
  steps.Steps.clear();
  uint16_t error = 0;
  RunProcess("Bench", 2, 1, error, 1);
  double at3 = 0, at5 = 0, sum = 0;
  std::vector<double> all;
  for (auto &[step, at] : steps.Steps) {
    if (step == 3) at3 = at;
    if (step == 5) at5 = at;
    if (step != 4 && step != 6) continue;
    all.push_back((step == 4 ? at - at3 - 1.1 : at - at5 - 0.6) * 1000);
    sum += all.back();
  }
  std::sort(all.begin(), all.end());
  const size_t n = all.size();
  std::printf("sila_dip_holds_over_nominal_%s: %.1f ms (median %.1f, max %.1f, %zu holds, error word %u)\n", tag,
              n ? sum / n : 0, n ? all[n / 2] : 0, n ? all.back() : 0, n, error);
}

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
  TSimProcess sim;
  TSerialPortNG port;
  if (!OpenBenchPort(port, sim, false, "sila_load")) return 1;
  TSteps steps;
  TPump pump;
  Host().Report = &steps;
  Host().Events = &pump;
  ReportLevel = 2;
  BenchMotorsOn();
  AppendBenchProcess(3);
  Cycle("no_clients", steps);
  {
    TSubscribers subs(server.Port(), cert.CertPem, 10);
    Cycle("10_schedulers_state_position", steps);
    std::printf("sila_load_values: %d property values sent to 20 subscriptions\n", subs.Values.load());
  }
  Cycle("no_clients_again", steps);
  Host() = THost();
  VeriPort() = nullptr;
  port.SetActive(false);
  return 0;
}
