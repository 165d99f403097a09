#pragma once
// Remote access in the program: the server, its notices and the report
// lines it shows, started from [Remote] of KVSettings.ini and restarted
// when Settings / Remote access changes it; everything stops with it.
#include <memory>
#include <string>

#include "base/Host.h"
#include "remote/Notifier.h"
#include "remote/RemoteServer.h"
#include "remote/RemoteSettings.h"
#include "remote/RunWatch.h"

class QWidget;
class TTFormMain;

class TRemoteAccess : public IReportSink {
public:
  explicit TRemoteAccess(TTFormMain &form);
  ~TRemoteAccess() override;
  // Every report line goes on to the window; the page keeps the last ones,
  // and a "***" line is a line fault for the page's followers.
  void AppendLine(const std::string &line) override;
  // Settings / Remote access.
  void ShowDialog(QWidget *parent);
  // Stops what runs and starts what `s` asks for; the report log says which.
  void Apply(const TRemoteSettings &s);
  // "http://127.0.0.1:8080/" or the lab addresses (IPv4 and IPv6) with the
  // read token, one a line.
  static std::string Addresses(const TRemoteSettings &s);
  // Sends a test notice to `urls`; the report log tells how each went.
  void TestNotice(const std::vector<std::string> &urls);

private:
  IReportSink *Next;
  TRunWatch Watch;
  std::unique_ptr<TRemoteServer> Server;
  std::unique_ptr<TNotifier> Notifier, Tester;
};
