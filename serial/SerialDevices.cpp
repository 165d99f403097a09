#include "serial/SerialDevices.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool HasUart(const std::string &name) {
  std::ifstream f("/sys/class/tty/" + name + "/type");
  int type = 0;
  return f >> type && type != 0;
}

// "ttyS10" after "ttyS9".
bool NaturalLess(const std::string &a, const std::string &b) {
  auto split = [](const std::string &s) {
    size_t i = s.find_last_not_of("0123456789") + 1;
    return std::make_pair(s.substr(0, i), i < s.size() ? std::stol(s.substr(i)) : -1L);
  };
  return split(a) < split(b);
}

// The group that may use the device, as the node says; "dialout" (Debian's
// serial group) when the node gives its group no access.
std::string DeviceGroup(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && st.st_gid != 0 && (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP))
    if (const group *g = ::getgrgid(st.st_gid)) return g->gr_name;
  return "dialout";
}

// "picocom (pid 812)" for the first other process with the device open.
std::string Holder(const std::string &path) {
  std::string found;
  DIR *proc = ::opendir("/proc");
  if (!proc) return found;
  char real[4096];
  const std::string want = ::realpath(path.c_str(), real) ? real : path;
  while (dirent *p = ::readdir(proc)) {
    if (!found.empty()) break;
    if (p->d_name[0] < '1' || p->d_name[0] > '9') continue;
    const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
    DIR *fds = ::opendir(fdDir.c_str());
    if (!fds) continue;
    while (dirent *f = ::readdir(fds)) {
      ssize_t n = ::readlink((fdDir + "/" + f->d_name).c_str(), real, sizeof real - 1);
      if (n <= 0 || std::string(real, size_t(n)) != want) continue;
      std::string comm;
      std::getline(std::ifstream(std::string("/proc/") + p->d_name + "/comm"), comm);
      found = comm + " (pid " + p->d_name + ")";
      break;
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return found;
}

std::string DeviceList() {
  std::string list;
  for (const std::string &d : SerialDevices()) list += (list.empty() ? "" : ", ") + d;
  return list.empty() ? "no serial device found (is the adapter plugged in?)"
                      : "serial devices here: " + list;
}
}  // namespace

std::vector<std::string> SerialDevices() {
  std::vector<std::string> names;
  if (DIR *dev = ::opendir("/dev")) {
    while (dirent *d = ::readdir(dev)) {
      const std::string n = d->d_name;
      if (n.rfind("ttyUSB", 0) == 0 || n.rfind("ttyACM", 0) == 0 || (n.rfind("ttyS", 0) == 0 && HasUart(n)))
        names.push_back(n);
    }
    ::closedir(dev);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  for (std::string &n : names) n = "/dev/" + n;
  return names;
}

std::string SerialOpenAdvice(const std::string &path, int e) {
  switch (e) {
    case EACCES:
    case EPERM:
      return "Error " + path + ": permission denied; add yourself to the group " + DeviceGroup(path) +
             " and log in again";
    case ENOENT: return "Error " + path + " does not exist; " + DeviceList();
    case ENXIO:
    case ENODEV:
    case EIO: return "Error " + path + " does not answer (no such port on this PC); " + DeviceList();
    case EBUSY: {
      const std::string who = Holder(path);
      return "Error " + path + " is in use by another program" + (who.empty() ? "" : ", " + who) +
             "; close it, then press Connect";
    }
    default: return "";
  }
}

std::string SerialLostAdvice(const std::string &path) {
  return "Error " + path + " is gone (adapter unplugged?); plug it back in and press Connect";
}
