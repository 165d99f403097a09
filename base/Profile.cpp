#include "base/Profile.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/Convert.h"
#include "base/TextFile.h"

namespace {

using TLines = std::vector<std::string>;

std::string TrimBlanks(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool SameName(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y && std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

// "[name]" -> name. A missing "]" still counts, the name running to the end.
bool IsSection(const std::string &line, std::string &name) {
  std::string t = TrimBlanks(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  name = TrimBlanks(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

bool IsKey(const std::string &line, std::string &key, std::string &value) {
  std::string t = TrimBlanks(line);
  if (t.empty() || t[0] == ';' || t[0] == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = TrimBlanks(t.substr(0, eq));
  value = TrimBlanks(t.substr(eq + 1));
  return true;
}

// False with errno set when the file exists but cannot be read; a missing
// file is an empty one.
bool LoadLines(const std::string &path, TLines &lines) {
  std::string error;
  if (ReadTextLines(path, lines, error)) return true;
  lines.clear();
  struct stat st;
  if (stat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
  if (errno == 0) errno = EIO;
  return false;
}

// Index of the first line of the section's header, or -1.
long FindSection(const TLines &lines, const std::string &section) {
  std::string name;
  for (size_t i = 0; i < lines.size(); ++i)
    if (IsSection(lines[i], name) && SameName(name, section)) return static_cast<long>(i);
  return -1;
}

bool LookUp(const std::string &file, const std::string &section, const std::string &key, std::string &value) {
  TLines lines;
  if (!LoadLines(ProfilePath(file), lines)) return false;
  long s = FindSection(lines, TrimBlanks(section));
  if (s < 0) return false;
  const std::string want = TrimBlanks(key);
  std::string name, k, v;
  for (size_t i = static_cast<size_t>(s) + 1; i < lines.size(); ++i) {
    if (IsSection(lines[i], name)) break;
    if (IsKey(lines[i], k, v) && SameName(k, want)) {
      value = v;
      return true;
    }
  }
  return false;
}

[[noreturn]] void WriteFailed(const std::string &path, const std::string &reason) {
  throw std::runtime_error("Unable to write to " + path + ": " + reason);
}

// A value or name never spans lines: a line break in it would add lines.
std::string OneLine(const std::string &s) {
  std::string r = s;
  for (char &c : r)
    if (c == '\r' || c == '\n') c = ' ';
  return r;
}

}  // namespace

std::string ProfilePath(const std::string &file) {
  std::string p = file;
  if (p.size() >= 2 && p[0] == '.' && p[1] == '\\') p[1] = '/';
  for (char &c : p)
    if (c == '\\') c = '/';
  return p;
}

std::string ProfileReadString(const std::string &file, const std::string &section, const std::string &key,
                              const std::string &def) {
  std::string v;
  return LookUp(file, section, key, v) ? v : def;
}

int32_t ProfileReadInt(const std::string &file, const std::string &section, const std::string &key,
                       int32_t def) {
  std::string v;
  int n = 0;
  if (!LookUp(file, section, key, v) || v.find('$') != std::string::npos || !TryStrToInt(v, n)) return def;
  return n;
}

double ProfileReadFloat(const std::string &file, const std::string &section, const std::string &key,
                        double def) {
  std::string v;
  double d = 0;
  if (!LookUp(file, section, key, v) || !TryStrToFloat(v, d) || !std::isfinite(d)) return def;
  return d;
}

bool ProfileReadBool(const std::string &file, const std::string &section, const std::string &key, bool def) {
  return ProfileReadInt(file, section, key, def ? 1 : 0) != 0;
}

void ProfileWriteString(const std::string &file, const std::string &section, const std::string &key,
                        const std::string &value) {
  const std::string path = ProfilePath(file);
  const std::string sect = TrimBlanks(OneLine(section));
  const std::string want = TrimBlanks(OneLine(key));
  const std::string val = OneLine(value);
  mode_t mode = 0;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) WriteFailed(path, "not a regular file");
    if ((st.st_mode & 0222) == 0) WriteFailed(path, "the file is read-only");
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  TLines lines;
  if (!LoadLines(path, lines)) WriteFailed(path, std::strerror(errno));

  long s = FindSection(lines, sect);
  if (s < 0) {
    lines.push_back("[" + sect + "]");
    lines.push_back(want + "=" + val);
  } else {
    size_t last = static_cast<size_t>(s);  // last non-blank line of the section
    bool replaced = false;
    std::string name, k, v;
    for (size_t i = static_cast<size_t>(s) + 1; i < lines.size(); ++i) {
      if (IsSection(lines[i], name)) break;
      if (IsKey(lines[i], k, v) && SameName(k, want)) {
        lines[i] = k + "=" + val;  // the file's spelling of the key stays
        replaced = true;
        break;
      }
      if (!TrimBlanks(lines[i]).empty()) last = i;
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<long>(last) + 1, want + "=" + val);
  }
  std::string text;
  for (const auto &l : lines) text += l + "\r\n";
  try {
    ReplaceFileAtomically(path, text, mode);
  } catch (const std::system_error &e) {
    WriteFailed(path, std::strerror(e.code().value()));
  }
}

void ProfileWriteInt(const std::string &file, const std::string &section, const std::string &key,
                     int32_t value) {
  ProfileWriteString(file, section, key, IntToStr(value));
}

void ProfileWriteFloat(const std::string &file, const std::string &section, const std::string &key,
                       double value) {
  ProfileWriteString(file, section, key, FloatToStrG(value));
}

void ProfileWriteBool(const std::string &file, const std::string &section, const std::string &key,
                      bool value) {
  ProfileWriteString(file, section, key, value ? "1" : "0");
}
