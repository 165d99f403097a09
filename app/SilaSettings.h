#pragma once
// Lab automation (SiLA 2) in the program: the server started from [SiLA] of
// KVSettings.ini at start-up (nothing listens without it), restarted when
// Settings / Lab automation changes it, ended before the window goes.
#include <QPointer>
#include <memory>
#include <string>

#include "sila/SilaDiscovery.h"
#include "sila/SilaServer.h"
#include "sila/SilaSettings.h"

class QDialog;
class QWidget;
class TTFormMain;

class TSilaAccess {
public:
  explicit TSilaAccess(TTFormMain &form);
  ~TSilaAccess();
  // Ends what runs and starts what the settings file says; the report log tells which.
  void Apply();
  // Settings / Lab automation, modeless: a run and STOP go on while it is open.
  void ShowDialog(QWidget *parent);
  TSilaServer *Server() const { return Running.get(); }
  const std::string &Fingerprint() const { return CertFingerprint; }

private:
  TTFormMain &Form;
  std::unique_ptr<TSilaAnnouncer> Announcer;  // lab network only
  std::unique_ptr<TSilaServer> Running;
  std::string CertFingerprint;
  QPointer<QDialog> Dialog;
};
