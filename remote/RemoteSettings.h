#pragma once
// Remote access settings, section [Remote] of KVSettings.ini. Off unless a
// port is set; local (127.0.0.1) unless told "lab".
#include <string>
#include <vector>

struct TRemoteSettings {
  int Port = 0;                     // 0: off
  bool Lab = false;                 // "lab": every interface, every request needs the token
  std::string Token;                // 64 hex digits
  std::vector<std::string> Notify;  // URLs
  bool On() const { return Port > 0 && Port < 65536; }
};

TRemoteSettings LoadRemoteSettings(const std::string &file);
// A failed write throws as the profile writes do.
void SaveRemoteSettings(const std::string &file, const TRemoteSettings &s);
// 32 random bytes from the system's generator, in hex.
std::string NewRemoteToken();
// Whether `given` is `token`, in time that does not depend on where they differ.
bool TokenMatches(const std::string &token, const std::string &given);
