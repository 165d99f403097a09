#include "remote/RemoteSettings.h"

#include <QRandomGenerator>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Profile.h"

namespace {
const char *const Section = "Remote";
}

TRemoteSettings LoadRemoteSettings(const std::string &file) {
  TRemoteSettings s;
  s.Port = ProfileReadInt(file, Section, "Port", 0);
  if (!s.On()) s.Port = 0;
  s.Lab = ProfileReadString(file, Section, "Network", "local") == "lab";
  s.Token = ProfileReadString(file, Section, "Token", "");
  s.ReadToken = ProfileReadString(file, Section, "ReadToken", "");
  std::istringstream urls(ProfileReadString(file, Section, "Notify", ""));
  for (std::string u; urls >> u;) s.Notify.push_back(u);
  return s;
}

void SaveRemoteSettings(const std::string &file, const TRemoteSettings &s) {
  std::string urls;
  for (const std::string &u : s.Notify) urls += (urls.empty() ? "" : " ") + u;
  KeepSettingsPrivate(file);  // a failure shows in the writes that follow
  ProfileWriteInt(file, Section, "Port", s.Port);
  ProfileWriteString(file, Section, "Network", s.Lab ? "lab" : "local");
  ProfileWriteString(file, Section, "Token", s.Token);
  ProfileWriteString(file, Section, "ReadToken", s.ReadToken);
  ProfileWriteString(file, Section, "Notify", urls);
}

std::string NewRemoteToken() {
  static const char Hex[] = "0123456789abcdef";
  std::string t;
  for (int i = 0; i < 32; ++i) {
    const quint32 b = QRandomGenerator::system()->generate() & 0xFF;
    t += Hex[b >> 4];
    t += Hex[b & 15];
  }
  return t;
}

bool TokenMatches(const std::string &token, const std::string &given) {
  if (token.empty() || token.size() != given.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < token.size(); ++i) diff |= static_cast<unsigned char>(token[i] ^ given[i]);
  return diff == 0;
}

bool KeepSettingsPrivate(const std::string &file) {
  const int fd = ::open(ProfilePath(file).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool ok = fchmod(fd, 0600) == 0;
  ::close(fd);
  return ok;
}
