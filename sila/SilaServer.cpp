#include "sila/SilaServer.h"

#include <QByteArray>
#include <QPointer>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <grpcpp/grpcpp.h>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "AuthorizationService.grpc.pb.h"
#include "DipCoatingService.grpc.pb.h"
#include "SiLAService.grpc.pb.h"
#include "SilaFdl.h"
#include "base/Host.h"
#include "base/Machine.h"
#include "base/OpState.h"
#include "recipes/Definitions.h"
#include "record/RunRecord.h"
#include "tasks/Process.h"
#include "tasks/RunEvents.h"
#include "tasks/TaskLanguage.h"
#include "tasks/TaskRun.h"

namespace fw = sila2::org::silastandard;
namespace ss = sila2::org::silastandard::core::silaservice::v1;
namespace au = sila2::org::silastandard::core::authorizationservice::v1;
namespace dc = sila2::org::kavetra::dipcoating::dipcoatingservice::v1;
using grpc::ServerContext;
using grpc::Status;

const char *const SilaServiceFeature = "org.silastandard/core/SiLAService/v1";
const char *const SilaAuthorizationFeature = "org.silastandard/core/AuthorizationService/v1";
const char *const SilaDipCoatingFeature = "org.kavetra/dipcoating/DipCoatingService/v1";
const char *const SilaServerDescription =
    "Three-axis dip-coating robot: runs the tasks of the recipe loaded at the machine.";
const char *const SilaAccessTokenHeader = "sila-org.silastandard-core-authorizationservice-v1-metadata-accesstoken-bin";

std::string SilaFeatureDefinition(const std::string &feature) {
  if (feature == SilaServiceFeature) return FdlSiLAService;
  if (feature == SilaAuthorizationFeature) return FdlAuthorizationService;
  if (feature == SilaDipCoatingFeature) return FdlDipCoatingService;
  return "";
}

namespace {
constexpr size_t KeptExecutions = 16;
constexpr size_t KeptSteps = 1000;  // intermediate responses kept per execution

std::string Fqi(const char *feature, const char *error) {
  return std::string(feature) + "/DefinedExecutionError/" + error;
}

Status SilaStatus(const fw::SiLAError &e) {
  const QByteArray b = QByteArray::fromStdString(e.SerializeAsString()).toBase64();
  return Status(grpc::StatusCode::ABORTED, b.toStdString());
}
Status Defined(const std::string &id, const std::string &message) {
  fw::SiLAError e;
  e.mutable_definedexecutionerror()->set_erroridentifier(id);
  e.mutable_definedexecutionerror()->set_message(message);
  return SilaStatus(e);
}
Status Framework(fw::FrameworkError::ErrorType type, const std::string &message) {
  fw::SiLAError e;
  e.mutable_frameworkerror()->set_errortype(type);
  e.mutable_frameworkerror()->set_message(message);
  return SilaStatus(e);
}
Status Undefined(const std::string &message) {
  fw::SiLAError e;
  e.mutable_undefinedexecutionerror()->set_message(message);
  return SilaStatus(e);
}
Status Validation(const std::string &parameter, const std::string &message) {
  fw::SiLAError e;
  e.mutable_validationerror()->set_parameter(parameter);
  e.mutable_validationerror()->set_message(message);
  return SilaStatus(e);
}

fw::Duration Seconds(double s) {
  fw::Duration d;
  s = std::max(0.0, s);
  d.set_seconds(int64_t(s));
  d.set_nanos(int32_t((s - double(int64_t(s))) * 1e9));
  return d;
}

// "127.0.0.1" of "ipv4:127.0.0.1:5000".
std::string PeerHost(const std::string &peer) {
  std::string p = peer.substr(peer.find(':') + 1);
  const size_t colon = p.rfind(':');
  if (colon != std::string::npos) p.erase(colon);
  if (p.size() > 2 && p.front() == '[') p = p.substr(1, p.size() - 2);
  return p.substr(0, 64);
}
}  // namespace

// One RunTask execution as the server threads see it.
struct TSilaExecution {
  std::string Uuid, Task;
  fw::ExecutionInfo::CommandStatus Status = fw::ExecutionInfo::waiting;
  double Progress = 0, Remaining = 0;
  std::vector<dc::RunTask_IntermediateResponses> Steps;
  size_t StepsDropped = 0;
  std::string Verdict, Record, Error;
  bool Finished() const { return Status >= fw::ExecutionInfo::finishedSuccessfully; }
};

// The picture the window thread writes and the server threads read.
struct TSilaShared {
  std::mutex M;
  std::condition_variable Changed;
  uint64_t Generation = 0;
  bool Stopping = false;
  bool Dirty = false;  // changed by a run event, not told yet
  std::string State = "idle";
  double X = 0, Y = 0, Z = 0;
  std::vector<std::string> Tasks;
  std::string LastTask, LastVerdict, LastRecord;
  std::string ServerName;
  std::deque<TSilaExecution> Executions;
  std::set<std::string> Peers;
  TSilaExecution *Find(const std::string &uuid) {
    for (TSilaExecution &e : Executions)
      if (e.Uuid == uuid) return &e;
    return nullptr;
  }
  void Bump() {
    ++Generation;
    Changed.notify_all();
  }
  // Waits for a change after `seen` (or a while); false when the server stops.
  bool Wait(std::unique_lock<std::mutex> &lock, uint64_t seen) {
    Changed.wait_for(lock, std::chrono::milliseconds(500), [&] { return Stopping || Generation != seen; });
    return !Stopping;
  }
};

struct TSilaServer::TImpl {
  TSilaServer *Owner;
  QPointer<TSilaServer> Self;
  std::shared_ptr<TSilaShared> Shared;
  TConfig Config;
  std::function<void(const std::string &)> KeepName;
  std::string Running;  // uuid of the execution whose run goes on, on the window thread

  // Runs `f` on the window thread at its next event pump.
  void Post(std::function<void()> f) {
    QMetaObject::invokeMethod(Owner, std::move(f), Qt::QueuedConnection);
  }
  void Log(const std::string &line) {
    QPointer<TSilaServer> self = Self;
    Post([self, line] {
      if (self) ReportLine(line);
    });
  }

  std::string Token(ServerContext *ctx) const {
    const auto &md = ctx->client_metadata();
    const auto it = md.find(SilaAccessTokenHeader);
    if (it == md.end()) return "";
    au::Metadata_AccessToken t;
    if (!t.ParseFromArray(it->second.data(), int(it->second.size()))) return "";
    return t.accesstoken().value();
  }
  // Notes a new client in the report log once.
  void Seen(ServerContext *ctx) {
    const std::string host = PeerHost(ctx->peer());
    {
      std::lock_guard<std::mutex> l(Shared->M);
      if (Shared->Peers.size() > 256 || !Shared->Peers.insert(host).second) return;
    }
    Log("Lab automation: a scheduler connected from " + host);
  }
  // The control token: running, stopping, renaming.
  Status Control(ServerContext *ctx, const char *what) {
    Seen(ctx);
    if (TokenMatches(Config.Remote.Token, Token(ctx))) return Status::OK;
    Log("Lab automation: " + std::string(what) + " refused to " + PeerHost(ctx->peer()) + " (no valid access token)");
    return Defined(Fqi(SilaAuthorizationFeature, "InvalidAccessToken"), "The control token is needed.");
  }
  // Reads: free on this computer, a token on the lab network.
  Status Read(ServerContext *ctx) {
    Seen(ctx);
    if (!Config.Sila.Lab) return Status::OK;
    const std::string t = Token(ctx);
    if (TokenMatches(Config.Remote.ReadToken, t) || TokenMatches(Config.Remote.Token, t)) return Status::OK;
    return Defined(Fqi(SilaAuthorizationFeature, "InvalidAccessToken"), "The read token is needed.");
  }
};

namespace {

class TSiLAService final : public ss::SiLAService::Service {
public:
  explicit TSiLAService(TSilaServer::TImpl &impl) : I(impl) {}
  Status GetFeatureDefinition(ServerContext *, const ss::GetFeatureDefinition_Parameters *p,
                              ss::GetFeatureDefinition_Responses *r) override {
    if (!p->has_featureidentifier())
      return Validation(std::string(SilaServiceFeature) + "/Command/GetFeatureDefinition/Parameter/FeatureIdentifier",
                        "The feature identifier is missing.");
    const std::string fdl = SilaFeatureDefinition(p->featureidentifier().value());
    if (fdl.empty())
      return Defined(Fqi(SilaServiceFeature, "UnimplementedFeature"),
                     "This server does not implement " + p->featureidentifier().value().substr(0, 255) + ".");
    r->mutable_featuredefinition()->set_value(fdl);
    return Status::OK;
  }
  Status SetServerName(ServerContext *ctx, const ss::SetServerName_Parameters *p,
                       ss::SetServerName_Responses *) override {
    Status s = I.Control(ctx, "renaming");
    if (!s.ok()) return s;
    const std::string name = p->servername().value();
    if (name.size() > 255 || name.find_first_of("\r\n") != std::string::npos)
      return Validation(std::string(SilaServiceFeature) + "/Command/SetServerName/Parameter/ServerName",
                        "At most 255 characters on one line.");
    {
      std::lock_guard<std::mutex> l(I.Shared->M);
      I.Shared->ServerName = name;
    }
    QPointer<TSilaServer> self = I.Self;
    TSilaServer::TImpl *impl = &I;
    I.Post([self, name, impl] {
      if (!self || impl->Config.Sila.ServerName == name) return;
      impl->Config.Sila.ServerName = name;
      ReportLine("Lab automation: server name set to " + name);
      if (impl->KeepName) impl->KeepName(name);
    });
    return Status::OK;
  }
  Status Get_ServerName(ServerContext *, const ss::Get_ServerName_Parameters *,
                        ss::Get_ServerName_Responses *r) override {
    std::lock_guard<std::mutex> l(I.Shared->M);
    r->mutable_servername()->set_value(I.Shared->ServerName);
    return Status::OK;
  }
  Status Get_ServerType(ServerContext *, const ss::Get_ServerType_Parameters *,
                        ss::Get_ServerType_Responses *r) override {
    r->mutable_servertype()->set_value("KavetraDipCoater");
    return Status::OK;
  }
  Status Get_ServerUUID(ServerContext *, const ss::Get_ServerUUID_Parameters *,
                        ss::Get_ServerUUID_Responses *r) override {
    r->mutable_serveruuid()->set_value(I.Config.Uuid);
    return Status::OK;
  }
  Status Get_ServerDescription(ServerContext *, const ss::Get_ServerDescription_Parameters *,
                               ss::Get_ServerDescription_Responses *r) override {
    r->mutable_serverdescription()->set_value(SilaServerDescription);
    return Status::OK;
  }
  Status Get_ServerVersion(ServerContext *, const ss::Get_ServerVersion_Parameters *,
                           ss::Get_ServerVersion_Responses *r) override {
    r->mutable_serverversion()->set_value(I.Config.Version);
    return Status::OK;
  }
  Status Get_ServerVendorURL(ServerContext *, const ss::Get_ServerVendorURL_Parameters *,
                             ss::Get_ServerVendorURL_Responses *r) override {
    r->mutable_servervendorurl()->set_value("https://kavetra.org/");
    return Status::OK;
  }
  Status Get_ImplementedFeatures(ServerContext *, const ss::Get_ImplementedFeatures_Parameters *,
                                 ss::Get_ImplementedFeatures_Responses *r) override {
    for (const char *f : {SilaServiceFeature, SilaAuthorizationFeature, SilaDipCoatingFeature})
      r->add_implementedfeatures()->set_value(f);
    return Status::OK;
  }

private:
  TSilaServer::TImpl &I;
};

class TAuthorization final : public au::AuthorizationService::Service {
public:
  Status Get_FCPAffectedByMetadata_AccessToken(ServerContext *,
                                               const au::Get_FCPAffectedByMetadata_AccessToken_Parameters *,
                                               au::Get_FCPAffectedByMetadata_AccessToken_Responses *r) override {
    r->add_affectedcalls()->set_value(SilaDipCoatingFeature);
    r->add_affectedcalls()->set_value(std::string(SilaServiceFeature) + "/Command/SetServerName");
    return Status::OK;
  }
};

// Why a run of `task` cannot start now, as a defined error; OK when it can.
// On the window thread.
Status WhyNot(const TSilaServer::TConfig &config, const TSilaServer::THooks &hooks, const std::string &task,
              uint8_t &index, bool question) {
  if (!config.Remote.AllowRuns)
    return Defined(Fqi(SilaDipCoatingFeature, "RunsNotAllowed"),
                   "Task runs from outside are not allowed in the remote settings of the robot.");
  if (!hooks.Connected || !hooks.Connected())
    return Defined(Fqi(SilaDipCoatingFeature, "NotConnected"), "The robot is not connected to its controllers.");
  index = 0;
  for (uint8_t t = 1; t <= TaskCount && t < TaskSlots; ++t)
    if (TaskTable[t].Name == task) index = t;
  if (index == 0)
    return Defined(Fqi(SilaDipCoatingFeature, "UnknownTask"), "The loaded recipe has no task \"" + task + "\".");
  if (question) return Defined(Fqi(SilaDipCoatingFeature, "QuestionOpen"), "A question waits at the machine.");
  std::string why = hooks.WhyNotStart ? hooks.WhyNotStart() : "";
  if (ProgramEnding()) why = "The program is ending.";
  if (OpState() != Idle || !why.empty())
    return Defined(Fqi(SilaDipCoatingFeature, "Busy"),
                   why.empty() ? std::string("The robot is busy (") + OpStateName(OpState()) + ")." : why);
  // The recipe's own tests of every process term, before anything moves.
  std::string failed;
  uint16_t bits = 0;
  std::set<std::string> tested;
  const uint16_t syntax = ParseTask(TaskTable[index].Line, TaskModeCheck,
                                    [&](const std::string &name, uint8_t, uint8_t, uint16_t &error, int32_t) {
                                      if (!failed.empty() || !tested.insert(name).second) return;
                                      uint16_t e = 0;
                                      if (TestProcess(name, e) == 0) failed = name, bits = e, error |= e;
                                    });
  if (!failed.empty() || (syntax & 0x1F) != 0) {
    std::string why2 = failed.empty() ? "the task line does not parse (error " + std::to_string(syntax) + ")"
                                      : "process \"" + failed + "\": ";
    if (!failed.empty()) {
      const char *reasons[] = {"no position defined", "no process defined", "no process has the name",
                               "its position number is above the positions defined",
                               "its down or up speed is not above 0"};
      std::string r;
      for (int b = ProcErrNoPosition; b <= ProcErrBadSpeed; ++b)
        if (bits & (1u << b)) r += (r.empty() ? "" : ", ") + std::string(reasons[b - ProcErrNoPosition]);
      why2 += r.empty() ? "error " + std::to_string(bits) : r;
    }
    return Defined(Fqi(SilaDipCoatingFeature, "RecipeCheckFailed"), "The recipe's tests failed: " + why2 + ".");
  }
  return Status::OK;
}

class TDipCoating final : public dc::DipCoatingService::Service {
public:
  TDipCoating(TSilaServer::TImpl &impl, TSilaServer::THooks &hooks) : I(impl), Hooks(hooks) {}

  Status RunTask(ServerContext *ctx, const dc::RunTask_Parameters *p, fw::CommandConfirmation *r) override {
    Status s = I.Control(ctx, "a task run");
    if (!s.ok()) return s;
    if (!p->has_taskname())
      return Validation(std::string(SilaDipCoatingFeature) + "/Command/RunTask/Parameter/TaskName",
                        "The task name is missing.");
    const std::string task = p->taskname().value().substr(0, 64);
    const std::string who = PeerHost(ctx->peer());
    auto answer = std::make_shared<std::promise<std::pair<Status, std::string>>>();
    std::future<std::pair<Status, std::string>> got = answer->get_future();
    QPointer<TSilaServer> self = I.Self;
    TSilaServer::TImpl *impl = &I;
    TSilaServer::THooks *hooks = &Hooks;
    I.Post([self, impl, hooks, task, who, answer] {
      if (!self) return;
      bool question;
      {
        std::lock_guard<std::mutex> l(impl->Shared->M);
        question = impl->Shared->State == "question";
      }
      uint8_t index = 0;
      Status why = WhyNot(impl->Config, *hooks, task, index, question);
      if (!why.ok()) {
        fw::SiLAError e;
        e.ParseFromString(QByteArray::fromBase64(QByteArray::fromStdString(why.error_message())).toStdString());
        ReportLine("Lab automation: task " + task + " not started for " + who + ": " +
                   e.definedexecutionerror().message());
        answer->set_value({why, ""});
        return;
      }
      const std::string uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
      {
        std::lock_guard<std::mutex> l(impl->Shared->M);
        TSilaExecution e;
        e.Uuid = uuid;
        e.Task = task;
        impl->Shared->Executions.push_back(std::move(e));
        while (impl->Shared->Executions.size() > KeptExecutions) impl->Shared->Executions.pop_front();
        impl->Shared->Bump();
      }
      answer->set_value({Status::OK, uuid});
      impl->Running = uuid;
      ReportLine("Lab automation: task " + task + " started by " + who);
      // A copy: the server may be ended (settings changed) while the run goes on.
      const auto run = hooks->Run;
      if (run) run(index, who);
      if (!self) return;
      impl->Running.clear();
      std::lock_guard<std::mutex> l(impl->Shared->M);
      TSilaExecution *e = impl->Shared->Find(uuid);
      if (e && !e->Finished()) {  // no run came of it (no record and the operator declined...)
        e->Status = fw::ExecutionInfo::finishedWithError;
        e->Error = "The task did not start at the machine.";
        impl->Shared->Bump();
      }
    });
    // The window answers at its next event pump; a server that ends meanwhile
    // must not keep the program waiting.
    for (int i = 0; got.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready; ++i) {
      std::lock_guard<std::mutex> l(I.Shared->M);
      if (I.Shared->Stopping || i == 300) return Undefined("The robot's program did not answer.");
    }
    std::pair<Status, std::string> a;
    try {
      a = got.get();
    } catch (const std::future_error &) {  // the call was dropped with the server
      return Undefined("The server ended.");
    }
    auto [status, uuid] = a;
    if (!status.ok()) return status;
    r->mutable_commandexecutionuuid()->set_value(uuid);
    return Status::OK;
  }

  Status RunTask_Info(ServerContext *ctx, const fw::CommandExecutionUUID *id,
                      grpc::ServerWriter<fw::ExecutionInfo> *w) override {
    Status s = I.Read(ctx);
    if (!s.ok()) return s;
    std::unique_lock<std::mutex> l(I.Shared->M);
    if (!I.Shared->Find(id->value()))
      return Framework(fw::FrameworkError::INVALID_COMMAND_EXECUTION_UUID, "No such execution.");
    std::string last;
    for (;;) {
      const TSilaExecution *e = I.Shared->Find(id->value());
      if (!e) return Status::OK;  // dropped from the kept ones
      fw::ExecutionInfo info;
      info.set_commandstatus(e->Status);
      info.mutable_progressinfo()->set_value(e->Progress);
      *info.mutable_estimatedremainingtime() = Seconds(e->Remaining);
      const std::string bytes = info.SerializeAsString();
      const bool finished = e->Finished();
      const uint64_t seen = I.Shared->Generation;
      if (bytes != last) {
        last = bytes;
        l.unlock();
        if (!w->Write(info)) return Status::OK;
        l.lock();
      }
      if (finished) return Status::OK;
      if (ctx->IsCancelled() || !I.Shared->Wait(l, seen)) return Status::OK;
    }
  }

  Status RunTask_Intermediate(ServerContext *ctx, const fw::CommandExecutionUUID *id,
                              grpc::ServerWriter<dc::RunTask_IntermediateResponses> *w) override {
    Status s = I.Read(ctx);
    if (!s.ok()) return s;
    std::unique_lock<std::mutex> l(I.Shared->M);
    const TSilaExecution *e = I.Shared->Find(id->value());
    if (!e) return Framework(fw::FrameworkError::INVALID_COMMAND_EXECUTION_UUID, "No such execution.");
    size_t next = e->StepsDropped;  // from the first kept: a late scheduler sees every dip
    for (;;) {
      e = I.Shared->Find(id->value());
      if (!e) return Status::OK;
      std::vector<dc::RunTask_IntermediateResponses> out;
      for (size_t i = std::max(next, e->StepsDropped); i < e->StepsDropped + e->Steps.size(); ++i)
        out.push_back(e->Steps[i - e->StepsDropped]);
      next = e->StepsDropped + e->Steps.size();
      const bool finished = e->Finished();
      const uint64_t seen = I.Shared->Generation;
      l.unlock();
      for (const auto &m : out)
        if (!w->Write(m)) return Status::OK;
      l.lock();
      if (finished) return Status::OK;
      if (ctx->IsCancelled() || !I.Shared->Wait(l, seen)) return Status::OK;
    }
  }

  Status RunTask_Result(ServerContext *ctx, const fw::CommandExecutionUUID *id, dc::RunTask_Responses *r) override {
    Status s = I.Read(ctx);
    if (!s.ok()) return s;
    std::lock_guard<std::mutex> l(I.Shared->M);
    const TSilaExecution *e = I.Shared->Find(id->value());
    if (!e) return Framework(fw::FrameworkError::INVALID_COMMAND_EXECUTION_UUID, "No such execution.");
    if (!e->Finished())
      return Framework(fw::FrameworkError::COMMAND_EXECUTION_NOT_FINISHED, "The run goes on.");
    if (e->Status == fw::ExecutionInfo::finishedWithError) return Undefined(e->Error);
    r->mutable_verdict()->set_value(e->Verdict);
    r->mutable_runrecord()->set_value(e->Record);
    return Status::OK;
  }

  Status Stop(ServerContext *ctx, const dc::Stop_Parameters *, dc::Stop_Responses *) override {
    Status s = I.Control(ctx, "STOP");
    if (!s.ok()) return s;
    const std::string who = PeerHost(ctx->peer());
    QPointer<TSilaServer> self = I.Self;
    // The screen's STOP, as remote access gives it.
    I.Post([self, who] {
      if (!self) return;
      ReportLine("Lab automation: STOP from " + who);
      StopAll("by lab automation");
    });
    return Status::OK;
  }

  Status Subscribe_State(ServerContext *ctx, const dc::Subscribe_State_Parameters *,
                         grpc::ServerWriter<dc::Subscribe_State_Responses> *w) override {
    return Follow<dc::Subscribe_State_Responses>(ctx, w, [](TSilaShared &sh, dc::Subscribe_State_Responses &m) {
      m.mutable_state()->set_value(sh.State);
    });
  }
  Status Subscribe_Position(ServerContext *ctx, const dc::Subscribe_Position_Parameters *,
                            grpc::ServerWriter<dc::Subscribe_Position_Responses> *w) override {
    return Follow<dc::Subscribe_Position_Responses>(ctx, w,
                                                    [](TSilaShared &sh, dc::Subscribe_Position_Responses &m) {
                                                      auto *p = m.mutable_position();
                                                      p->mutable_x()->set_value(sh.X);
                                                      p->mutable_y()->set_value(sh.Y);
                                                      p->mutable_z()->set_value(sh.Z);
                                                    });
  }
  Status Get_Tasks(ServerContext *ctx, const dc::Get_Tasks_Parameters *, dc::Get_Tasks_Responses *r) override {
    Status s = I.Read(ctx);
    if (!s.ok()) return s;
    std::lock_guard<std::mutex> l(I.Shared->M);
    for (const std::string &t : I.Shared->Tasks) r->add_tasks()->set_value(t);
    return Status::OK;
  }
  Status Get_LastRun(ServerContext *ctx, const dc::Get_LastRun_Parameters *, dc::Get_LastRun_Responses *r) override {
    Status s = I.Read(ctx);
    if (!s.ok()) return s;
    std::lock_guard<std::mutex> l(I.Shared->M);
    auto *run = r->mutable_lastrun();
    run->mutable_task()->set_value(I.Shared->LastTask);
    run->mutable_verdict()->set_value(I.Shared->LastVerdict);
    run->mutable_runrecord()->set_value(I.Shared->LastRecord);
    return Status::OK;
  }

private:
  // An observable property: the value now, then each change, until the client cancels.
  template <class M, class F>
  Status Follow(ServerContext *ctx, grpc::ServerWriter<M> *w, F fill) {
    Status s = I.Read(ctx);
    if (!s.ok()) return s;
    std::unique_lock<std::mutex> l(I.Shared->M);
    std::string last;
    for (;;) {
      M m;
      fill(*I.Shared, m);
      const uint64_t seen = I.Shared->Generation;
      std::string bytes = m.SerializeAsString();
      if (bytes != last) {
        last = std::move(bytes);
        l.unlock();
        if (!w->Write(m)) return Status::OK;
        l.lock();
      }
      if (ctx->IsCancelled() || !I.Shared->Wait(l, seen)) return Status::OK;
    }
  }
  TSilaServer::TImpl &I;
  TSilaServer::THooks &Hooks;
};

}  // namespace

struct TSilaServerParts {
  std::unique_ptr<TSiLAService> Core;
  std::unique_ptr<TAuthorization> Auth;
  std::unique_ptr<TDipCoating> Dip;
  std::unique_ptr<grpc::Server> Server;
};

TSilaServer::TSilaServer(const TConfig &config, THooks hooks)
    : Config(config), Hooks(std::move(hooks)), Shared(std::make_shared<TSilaShared>()), Impl(new TImpl) {
  Impl->Owner = this;
  Impl->Self = this;
  Impl->Shared = Shared;
  Impl->Config = config;
  Shared->ServerName = config.Sila.ServerName;
  Timer.setInterval(100);
  connect(&Timer, &QTimer::timeout, this, [this] { Refresh(); });
  ListenerId = AddRunListener([this](const TRunEvent &ev) {
    Take(ev);
    Refresh();
  });
}

void TSilaServer::Take(const TRunEvent &ev) {
  {
    std::lock_guard<std::mutex> l(Shared->M);
    TSilaExecution *e = Impl->Running.empty() ? nullptr : Shared->Find(Impl->Running);
    switch (ev.Kind) {
      case TRunEventKind::RunStarted:
        if (e) e->Status = fw::ExecutionInfo::running;
        break;
      case TRunEventKind::DipStarted:
      case TRunEventKind::DipEnded:
        if (e && ev.Kind == TRunEventKind::DipStarted) {
          dc::RunTask_IntermediateResponses m;
          auto *step = m.mutable_step();
          step->mutable_process()->set_value(ev.Process);
          step->mutable_dip()->set_value(ev.Dip);
          step->mutable_dips()->set_value(ev.Dips);
          step->mutable_z()->set_value(Axes[3].Position);
          e->Steps.push_back(std::move(m));
          if (e->Steps.size() > KeptSteps) {
            e->Steps.erase(e->Steps.begin());
            ++e->StepsDropped;
          }
        }
        break;
      case TRunEventKind::RunEnded:
        Shared->LastTask = ev.Task;
        Shared->LastVerdict = ev.End;
        Shared->LastRecord = RunRecorder().Path();
        if (e) {
          e->Status = fw::ExecutionInfo::finishedSuccessfully;
          e->Progress = 1;
          e->Remaining = 0;
          e->Verdict = ev.End;
          e->Record = Shared->LastRecord;
          ReportLine("Lab automation: task " + e->Task + " ended: " + ev.End);
        }
        break;
      case TRunEventKind::QuestionAsked:
      case TRunEventKind::QuestionAnswered:
      case TRunEventKind::ProcessDone:
      case TRunEventKind::LineFault: break;
    }
    Question = ev.Kind == TRunEventKind::QuestionAsked ? true
               : ev.Kind == TRunEventKind::QuestionAnswered || ev.Kind == TRunEventKind::RunEnded ? false
                                                                                                  : Question;
    Shared->Dirty = true;  // told with the refresh that follows, progress and all
  }
}

TSilaServer::~TSilaServer() {
  RemoveRunListener(ListenerId);
  Timer.stop();
  {
    std::lock_guard<std::mutex> l(Shared->M);
    Shared->Stopping = true;
    Shared->Changed.notify_all();
  }
  if (Parts && Parts->Server) {
    Parts->Server->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(2));
    Parts->Server->Wait();
  }
  Parts.reset();
}

bool TSilaServer::Start(std::string &error) {
  Impl->KeepName = Hooks.KeepName;
  Parts = std::make_unique<TSilaServerParts>();
  Parts->Core = std::make_unique<TSiLAService>(*Impl);
  Parts->Auth = std::make_unique<TAuthorization>();
  Parts->Dip = std::make_unique<TDipCoating>(*Impl, Hooks);
  std::shared_ptr<grpc::ServerCredentials> creds;
  if (Config.Sila.Plain()) {
    creds = grpc::InsecureServerCredentials();
  } else {
    if (Config.CertPem.empty() || Config.KeyPem.empty()) {
      error = "no certificate";
      return false;
    }
    grpc::SslServerCredentialsOptions tls;
    tls.pem_key_cert_pairs.push_back({Config.KeyPem, Config.CertPem});
    creds = grpc::SslServerCredentials(tls);
  }
  // On this computer only unless the lab network was chosen.
  const std::string address =
      (Config.Sila.Lab ? std::string("[::]:") : std::string("127.0.0.1:")) + std::to_string(Config.Sila.Port);
  grpc::ServerBuilder b;
  b.AddListeningPort(address, creds, &ListenPort);
  b.RegisterService(Parts->Core.get());
  b.RegisterService(Parts->Auth.get());
  b.RegisterService(Parts->Dip.get());
  // Subscriptions hold a thread each: a bound keeps a flood of them from the machine's memory.
  grpc::ResourceQuota quota("sila");
  quota.SetMaxThreads(64);
  b.SetResourceQuota(quota);
  b.SetMaxReceiveMessageSize(64 * 1024);
  Parts->Server = b.BuildAndStart();
  if (!Parts->Server || ListenPort == 0) {
    Parts.reset();
    ListenPort = 0;
    error = "cannot listen on " + address;
    return false;
  }
  Refresh();
  Timer.start();
  return true;
}

void TSilaServer::Refresh() {
  const TOpState op = OpState();
  const bool connected = Hooks.Connected && Hooks.Connected();
  std::string state = Question ? "question"
                      : op == Unwinding ? "stopped"
                      : op != Idle      ? "running"
                      : connected       ? "connected"
                                        : "idle";
  std::vector<std::string> tasks;
  for (uint8_t t = 1; t <= TaskCount && t < TaskSlots; ++t) tasks.push_back(TaskTable[t].Name);
  const TTaskRun *run = ActiveRun();
  const double elapsed = run ? run->Progress.ElapsedSeconds() : 0, remaining = run ? run->Progress.RemainingSeconds() : 0;
  std::lock_guard<std::mutex> l(Shared->M);
  bool changed = Shared->State != state || Shared->X != Axes[1].Position || Shared->Y != Axes[2].Position ||
                 Shared->Z != Axes[3].Position || Shared->Tasks != tasks;
  Shared->State = state;
  Shared->X = Axes[1].Position;
  Shared->Y = Axes[2].Position;
  Shared->Z = Axes[3].Position;
  Shared->Tasks = std::move(tasks);
  TSilaExecution *e = Impl->Running.empty() ? nullptr : Shared->Find(Impl->Running);
  if (e && e->Status == fw::ExecutionInfo::running && run && run->Progress.Running()) {
    const double p = elapsed + remaining > 0 ? std::min(1.0, elapsed / (elapsed + remaining)) : 0;
    // Progress never goes back, whatever the estimate's corrections do.
    if (p > e->Progress || remaining != e->Remaining) changed = true;
    e->Progress = std::max(e->Progress, p);
    e->Remaining = remaining;
  }
  if (changed || Shared->Dirty) Shared->Bump();
  Shared->Dirty = false;
}
