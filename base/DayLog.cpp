#include "base/DayLog.h"

#include "base/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

TDayLog &DayLog() {
  static TDayLog log;
  return log;
}

namespace {
// Streams `from` into a gzip file at `to`, synced; false when stopped or on
// any failure (the caller removes what was made).
bool GzipFile(const std::string &from, const std::string &to, const std::atomic<bool> *stop) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  gzFile out = gzopen(to.c_str(), "wb9");
  bool ok = out != nullptr;
  std::vector<char> buf(1 << 16);
  while (ok) {
    if (stop && stop->load()) ok = false;
    const ssize_t n = ok ? ::read(in, buf.data(), buf.size()) : 0;
    if (n <= 0) {
      ok = ok && n == 0;
      break;
    }
    ok = gzwrite(out, buf.data(), unsigned(n)) == int(n);
  }
  close(in);
  if (out) ok = gzclose(out) == Z_OK && ok;
  // Synced before it takes the place of the plain file.
  const int fd = ok ? ::open(to.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  ok = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  return ok;
}
}  // namespace

void TidyDayLogs(const std::string &folder, const std::string &today, int64_t keepBytes,
                 const std::atomic<bool> *stop) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::pair<std::string, int64_t>> kept;  // name, size
  std::vector<fs::path> plain;
  for (const auto &e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() == 14 && name.compare(10, 4, ".log") == 0 && name.substr(0, 10) < today)
      plain.push_back(e.path());
    else if (name.size() == 22 && name.compare(10, 12, ".log.gz.part") == 0)
      fs::remove(e.path(), ec);  // a kill's leftover
  }
  std::sort(plain.begin(), plain.end());
  for (const fs::path &p : plain) {
    if (stop && stop->load()) return;
    const std::string gz = p.string() + ".gz", tmp = gz + ".part";
    if (GzipFile(p.string(), tmp, stop) && std::rename(tmp.c_str(), gz.c_str()) == 0) fs::remove(p, ec);
    else fs::remove(tmp, ec);
  }
  if (stop && stop->load()) return;
  int64_t total = 0;
  for (const auto &e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() < 14 || name.compare(10, 4, ".log") != 0) continue;
    const int64_t size = int64_t(e.file_size(ec));
    total += size;
    if (name.size() == 17 && name.compare(14, 3, ".gz") == 0) kept.emplace_back(name, size);
  }
  std::sort(kept.begin(), kept.end());
  for (size_t i = 0; i < kept.size() && total > keepBytes; ++i)
    if (fs::remove(fs::path(folder) / kept[i].first, ec)) total -= kept[i].second;
}

void TDayLog::Open(const std::string &folder, int64_t keepBytes) {
  Close();
  std::lock_guard<std::mutex> l(M);
  Shown = folder;
  Folder = folder;
  if (folder.empty() || folder[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) Folder = std::string(cwd) + "/" + folder;
  }
  On = true;
  Stop = Dirty = Reported = false;
  Quit = false;
  Syncer = std::thread([this] { SyncLoop(); });
  if (keepBytes > 0) {
    const time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    char today[32];
    std::strftime(today, sizeof today, "%Y-%m-%d", &tm);
    Tidier = std::thread([this, f = Folder, t = std::string(today), keepBytes] {
      TidyDayLogs(f, t, keepBytes, &Quit);
    });
  }
}

void TDayLog::Close() {
  Quit = true;
  if (Tidier.joinable()) Tidier.join();
  {
    std::lock_guard<std::mutex> l(M);
    if (!On) return;
    Stop = true;
  }
  Wake.notify_one();
  Syncer.join();
  std::lock_guard<std::mutex> l(M);
  if (Fd >= 0) Retired.push_back(Fd);
  for (int fd : Retired) {
    fdatasync(fd);
    close(fd);
  }
  Retired.clear();
  Fd = -1;
  On = false;
}

bool TDayLog::IsOpen() {
  std::lock_guard<std::mutex> l(M);
  return On;
}

std::string TDayLog::Write(const std::string &line, int64_t wallMs) {
  std::lock_guard<std::mutex> l(M);
  if (!On) return {};
  const int64_t sec = wallMs >= 0 ? wallMs / 1000 : (wallMs - 999) / 1000;
  if (sec != StampSec) {
    const time_t t = static_cast<time_t>(sec);
    struct tm tm {};
    localtime_r(&t, &tm);
    std::snprintf(Stamp, sizeof Stamp, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    StampDay = (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
    StampSec = sec;
  }
  const std::string day(Stamp, 10);
  if (Fd >= 0 && FdDay != StampDay) {  // past midnight: the next day's file
    Retired.push_back(Fd);
    Fd = -1;
  }
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d ", static_cast<int>(wallMs - sec * 1000));
  std::string rec = Stamp;
  rec += ms;
  rec.reserve(rec.size() + line.size() + 1);
  // One stamp per file line: a line break inside a report line is escaped.
  for (char c : line) {
    if (c == '\n') rec += "\\n";
    else if (c == '\r') rec += "\\r";
    else rec += c;
  }
  rec += '\n';
  int err = 0;
  bool written = false;
  if (Fd < 0) {
    mkdir(Folder.c_str(), 0777);
    const std::string path = Folder + "/" + day + ".log";
    Fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    // A new day's file is made with its first line: never an empty one.
    if (Fd < 0 && errno == ENOENT) {
      written = CreateWithText(path, rec);
      if (written || errno == EEXIST) Fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (Fd < 0 && !written) err = errno;
    FdDay = StampDay;
  }
  if (Fd >= 0 && !written && !AppendWhole(Fd, rec)) err = errno;
  if (err) {
    if (Reported) return {};
    Reported = true;
    return "*** Report log file " + Shown + "/" + day + ".log cannot be written: " + std::strerror(err) +
           "; the window's log goes on";
  }
  Reported = false;
  if (!Dirty) {
    Dirty = true;
    Wake.notify_one();
  }
  return {};
}

void TDayLog::SyncLoop() {
  std::unique_lock<std::mutex> l(M);
  for (;;) {
    Wake.wait(l, [this] { return Dirty || Stop || !Retired.empty(); });
    // Lines written while this one syncs are synced together on the next turn.
    std::vector<int> old;
    old.swap(Retired);
    const int fd = Dirty && Fd >= 0 ? dup(Fd) : -1;  // Fd may be closed meanwhile
    Dirty = false;
    const bool stop = Stop;
    l.unlock();
    for (int f : old) {
      fdatasync(f);
      close(f);
    }
    if (fd >= 0) {
      fdatasync(fd);
      close(fd);
    }
    l.lock();
    if (stop) return;  // Close syncs what is left
    // About one sync a second, however many lines come: fast replies make
    // tens of lines a second for hours.
    Wake.wait_for(l, std::chrono::seconds(1), [this] { return Stop; });
  }
}
