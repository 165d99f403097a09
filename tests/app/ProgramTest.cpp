// The program as a whole: started in an empty folder and ended by a signal,
// it closes the window the normal way, so the shut-down writes the INI files.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <QAction>
#include <QPushButton>

#include "app/FormMain.h"

namespace {

const std::string Program = std::string(KV_BUILD_DIR) + "/kavetra";

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// True once the process has its handler for `sig` in place.
bool Catches(pid_t pid, int sig) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("SigCgt:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
  return false;
}

// Runs the program in `dir`, sends `sig` once it listens, returns the wait status.
int RunAndSignal(const std::string &dir, int sig) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    execl(Program.c_str(), Program.c_str(), static_cast<char *>(nullptr));
    _exit(121);
  }
  using namespace std::chrono;
  const auto limit = steady_clock::now() + seconds(30);  // hang guard only
  while (!Catches(pid, sig) && steady_clock::now() < limit)
    std::this_thread::sleep_for(milliseconds(20));
  kill(pid, sig);
  int status = -1;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (steady_clock::now() > limit) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  return status;
}

std::string NewDir() {
  char tmpl[] = "/tmp/kvprogram-XXXXXX";
  return mkdtemp(tmpl) ? tmpl : "";
}

TEST(Program, SignalsCloseTheWindowAndRunTheShutDown) {
  if (access(Program.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << Program;
  const std::string dir = NewDir();
  ASSERT_FALSE(dir.empty());

  int status = RunAndSignal(dir, SIGTERM);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(Exists(dir + "/KVHardware.ini"));
  ASSERT_TRUE(Exists(dir + "/KVSettings.ini"));
  const std::string hardware = ReadFile(dir + "/KVHardware.ini");

  status = RunAndSignal(dir, SIGINT);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(dir + "/KVHardware.ini"), hardware);

  for (const char *f : {"/KVHardware.ini", "/KVSettings.ini"}) unlink((dir + f).c_str());
  rmdir(dir.c_str());
}

// The shut-down runs from the window's destruction, not from the Exit
// button or menu item, and only once.
TEST(Program, ExitClosesAndTheDestructionWritesTheFiles) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  for (int way = 0; way < 2; ++way) {
    const std::string dir = NewDir();
    ASSERT_EQ(chdir(dir.c_str()), 0);
    {
      TTFormMain form;
      form.show();
      if (way == 0)
        form.BitBtn1->click();
      else
        form.Exit1->trigger();
      EXPECT_FALSE(form.isVisible());
      EXPECT_FALSE(Exists("KVSettings.ini"));
    }
    EXPECT_TRUE(Exists("KVSettings.ini"));
    EXPECT_TRUE(Exists("KVHardware.ini"));
    for (const char *f : {"KVHardware.ini", "KVSettings.ini"}) unlink(f);
    ASSERT_EQ(chdir(cwd), 0);
    rmdir(dir.c_str());
  }
}

}  // namespace
