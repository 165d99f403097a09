#pragma once
// Every write point of a file writer: the writer runs in a forked child
// whose files may not grow past `limit` bytes, for every limit from 0 up to
// the first that lets it through. At each, once the write fails there (disk
// full: EFBIG) and once the child is killed there (SIGXFSZ); the parent
// checks what is on disk after each.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// `write` runs in the child; `check(killed)` in the parent after it ends,
// `reset` before each child. Returns the number of points tried.
inline int AtEveryWritePoint(const std::function<void()> &reset, const std::function<void()> &write,
                             const std::function<void(bool killed)> &check, rlim_t most = 100000,
                             rlim_t from = 0) {
  int points = 0;
  for (rlim_t limit = from; limit <= most; ++limit) {
    bool through = true;
    for (bool kill : {false, true}) {
      reset();
      const pid_t child = fork();
      if (child == 0) {
        signal(SIGXFSZ, kill ? SIG_DFL : SIG_IGN);
        rlimit r{limit, limit};
        setrlimit(RLIMIT_FSIZE, &r);
        write();
        _exit(0);
      }
      int status = 0;
      waitpid(child, &status, 0);
      const bool killed = WIFSIGNALED(status);
      through = through && !killed;
      SCOPED_TRACE("limit " + std::to_string(limit) + (kill ? " killed" : " failing"));
      check(killed);
      ++points;
      if (::testing::Test::HasFailure()) return points;
    }
    if (through) return points;  // no write reached the limit
  }
  ADD_FAILURE() << "the writer never got through";
  return points;
}

// The test's working folder in memory for its lifetime, when the machine
// has one: the writers' syncs are then free and every point stays quick.
struct TMemoryFolder {
  std::string Saved = std::filesystem::current_path(), Dir;
  TMemoryFolder() {
    char tmpl[] = "/dev/shm/kvpoints-XXXXXX";
    if (mkdtemp(tmpl) && chdir(tmpl) == 0) Dir = tmpl;
  }
  ~TMemoryFolder() {
    if (Dir.empty()) return;
    std::filesystem::current_path(Saved);
    std::filesystem::remove_all(Dir);
  }
};
