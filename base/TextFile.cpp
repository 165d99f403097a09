#include "base/TextFile.h"

#include <QCryptographicHash>
#include <fstream>
#include <sstream>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool WriteAll(int fd, const std::string &data) {
  const char *p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

bool AppendWhole(int fd, const std::string &text) {
  if (text.empty()) return true;
  const off_t before = ::lseek(fd, 0, SEEK_END);
  if (before < 0) return false;
  ssize_t n;
  do {
    n = ::write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  if (n == ssize_t(text.size())) return true;
  // Not written again: the rest would only fail, or be the write that
  // ends the program with the line cut.
  const int err = n < 0 ? errno : ENOSPC;
  const int rc = n > 0 ? ::ftruncate(fd, before) : 0;
  (void)rc;  // nothing better to do than fail
  errno = err;
  return false;
}

namespace {
// `text` in a new file beside `path`, synced: its name, or "" with errno set.
std::string SyncedTemp(const std::string &path, const std::string &text, mode_t mode) {
  std::string tmp = path + ".tmp-XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return {};
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  const int err = errno;
  ok = ::close(fd) == 0 && ok;
  if (ok) return name.data();
  ::unlink(name.data());
  errno = err;
  return {};
}

}  // namespace

bool CreateWithText(const std::string &path, const std::string &text, mode_t mode) {
  const std::string tmp = SyncedTemp(path, text, mode);
  if (tmp.empty()) return false;
  // A link fails where the name is taken, so no run's file is overwritten;
  // a file system without links gets the name by a rename.
  bool ok = ::link(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    struct stat st {};
    const bool taken = errno == EEXIST || ::lstat(path.c_str(), &st) == 0;
    ok = !taken && std::rename(tmp.c_str(), path.c_str()) == 0;
    if (taken) errno = EEXIST;
  }
  const int err = errno;
  ::unlink(tmp.c_str());
  errno = ok ? 0 : err;
  return ok;
}

void ReplaceFileAtomically(const std::string &path, const std::string &text, mode_t mode) {
  const std::string tmp = SyncedTemp(path, text, mode);
  if (tmp.empty()) throw std::system_error(errno, std::generic_category(), path);
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw std::system_error(err, std::generic_category(), path);
  }
  // Make the rename itself durable; a failure here loses nothing already written.
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
}

bool ReadTextLines(const std::string &path, std::vector<std::string> &lines, std::string &error) {
  lines.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  // Read errors count: a folder opens like a file and then reads as empty
  // through a stream, which would pass for an empty file.
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      error = std::strerror(errno);
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return true;
}

std::string Sha256Hex(const std::string &text) {
  // Qt's hash: a kept library rather than a hand-made one.
  return QCryptographicHash::hash(QByteArray::fromRawData(text.data(), qsizetype(text.size())),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

bool ReadWholeFile(const std::string &path, std::string &text, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return false;
  }
  // Sized once: a night's record is read without growing the string.
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size > 0) {
    text.resize(size_t(size));
    in.read(text.data(), size);
    text.resize(size_t(in.gcount()));
  } else {
    std::ostringstream all;  // not a plain file: as it comes
    all << in.rdbuf();
    text = all.str();
  }
  return true;
}
