#pragma once
// The robot as a SiLA 2 server: the core SiLAService, the access token of
// AuthorizationService, and the dip coater's own feature (run a task of the
// loaded recipe and follow it, STOP, state and position).
//
// gRPC serves on threads of its own. They never touch the machine: what
// they read is a picture the window thread refreshes (a timer and every run
// event), and what they ask (a run, STOP, a new server name) is posted to
// the window thread, which answers at its next event pump.
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "remote/RemoteSettings.h"
#include "sila/SilaSettings.h"

struct TSilaShared;

// The fully qualified identifiers of the features served.
extern const char *const SilaServiceFeature;        // org.silastandard/core/SiLAService/v1
extern const char *const SilaAuthorizationFeature;  // org.silastandard/core/AuthorizationService/v1
extern const char *const SilaDipCoatingFeature;     // org.kavetra/dipcoating/DipCoatingService/v1
extern const char *const SilaServerDescription;
// The gRPC header of the AccessToken metadata.
extern const char *const SilaAccessTokenHeader;
// A feature's definition (FDL) by fully qualified identifier; "" when not served.
std::string SilaFeatureDefinition(const std::string &feature);

class TSilaServer : public QObject {
  Q_OBJECT
public:
  struct TConfig {
    TSilaSettings Sila;      // Port 0: any free port (tests)
    TRemoteSettings Remote;  // the tokens and whether task runs from outside are allowed
    std::string Uuid, Version;
    std::string CertPem, KeyPem;  // empty with Sila.Plain()
  };
  // What the window provides (called on the window thread only).
  struct THooks {
    std::function<bool()> Connected;
    // Empty when a run may start now, else why not (a dialog is open...).
    std::function<std::string()> WhyNotStart;
    // Shows the task and runs it as Start does, with the labels given; returns after the run.
    std::function<void(uint8_t task, const std::string &who)> Run;
    std::function<void(const std::string &name)> KeepName;
  };
  TSilaServer(const TConfig &config, THooks hooks);
  ~TSilaServer() override;
  bool Start(std::string &error);
  int Port() const { return ListenPort; }
  // Refreshes the picture the server threads read (also run by a timer).
  void Refresh();

  struct TImpl;  // what the gRPC services share with the window side

private:
  void Take(const struct TRunEvent &event);
  TConfig Config;
  THooks Hooks;
  std::shared_ptr<TSilaShared> Shared;
  std::unique_ptr<TImpl> Impl;
  std::unique_ptr<struct TSilaServerParts> Parts;
  bool Question = false;  // a question of the run waits at the machine
  QTimer Timer;
  int ListenerId = 0;
  int ListenPort = 0;
};
