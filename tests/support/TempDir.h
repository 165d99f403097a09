#pragma once
// Each test runs in a fresh empty working folder, as the program opens its
// INI files by relative path; the machine tables start from their defaults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Machine.h"

// A fresh empty working folder for the life of the object, for fixtures
// built on another one.
class TWorkDir {
public:
  TWorkDir() : Saved(std::filesystem::current_path()) {
    std::string tmpl = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/kvwork-XXXXXX";
    EXPECT_NE(mkdtemp(tmpl.data()), nullptr);
    std::filesystem::current_path(Dir = tmpl);
  }
  ~TWorkDir() {
    std::filesystem::current_path(Saved);
    std::filesystem::remove_all(Dir);
  }
  const std::string Saved;
  std::string Dir;
};

class TTempDirTest : public ::testing::Test {
protected:
  std::string Dir, SavedCwd;
  void SetUp() override {
    SavedCwd = std::filesystem::current_path();
    // In memory where there is a tmpfs: some tests write a record per run, thousands of runs.
    std::string tmpl = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/kvmachine-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    Dir = tmpl;
    ASSERT_EQ(chdir(Dir.c_str()), 0);
    ResetMachineDefaults();
  }
  void TearDown() override {
    chmod(Dir.c_str(), 0755);
    std::filesystem::current_path(SavedCwd);
    std::filesystem::remove_all(Dir);  // throws, and so fails the test, when it cannot
    ResetMachineDefaults();
  }
  static void Put(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Get(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }
  // Names in the folder other than the given ones ("\n" between), to find
  // left-over temporaries.
  std::string OtherFiles(const std::string &keep) const {
    std::set<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(Dir)) names.insert(e.path().filename().string());
    std::string out;
    for (const std::string &n : names)
      if (("\n" + keep + "\n").find("\n" + n + "\n") == std::string::npos) out += n + "\n";
    return out;
  }
};
