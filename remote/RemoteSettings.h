#pragma once
// Remote access settings, section [Remote] of KVSettings.ini. Off unless a
// port is set; local (127.0.0.1) unless told "lab".
#include <string>
#include <vector>

struct TRemoteSettings {
  int Port = 0;                     // 0: off
  bool Lab = false;                 // "lab": every interface, every request needs a token
  std::string Token;                // the control token (STOP), 64 hex digits
  std::string ReadToken;            // reading on the lab network (the link), 64 hex digits
  std::vector<std::string> Notify;  // URLs
  bool On() const { return Port > 0 && Port < 65536; }
};

TRemoteSettings LoadRemoteSettings(const std::string &file);
// A failed write throws as the profile writes do. The file holds the
// tokens: it is made readable by its owner alone first (0600), and the
// atomic replace of every later write keeps that.
void SaveRemoteSettings(const std::string &file, const TRemoteSettings &s);
// Makes the settings file its owner's alone (0600); false when it cannot.
bool KeepSettingsPrivate(const std::string &file);
// 32 random bytes from the system's generator, in hex.
std::string NewRemoteToken();
// Whether `given` is `token`, in time that does not depend on where they differ.
bool TokenMatches(const std::string &token, const std::string &given);
