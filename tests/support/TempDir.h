#pragma once
// Each test runs in a fresh empty working folder, as the program opens its
// INI files by relative path; the machine tables start from their defaults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Machine.h"

class TTempDirTest : public ::testing::Test {
protected:
  std::string Dir, SavedCwd;
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    SavedCwd = cwd;
    char tmpl[] = "/tmp/kvmachine-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Dir = tmpl;
    ASSERT_EQ(chdir(Dir.c_str()), 0);
    ResetMachineDefaults();
  }
  void TearDown() override {
    chmod(Dir.c_str(), 0755);
    ASSERT_EQ(chdir(SavedCwd.c_str()), 0);
    std::string cmd = "rm -rf '" + Dir + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << Dir;
    ResetMachineDefaults();
  }
  static void Put(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Get(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static bool Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  // Names in the folder other than the given one, to find left-over temporaries.
  std::string OtherFiles(const std::string &keep) const {
    std::string cmd = "ls -A '" + Dir + "' | grep -v -x '" + keep + "' || true";
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
      char buf[256];
      while (fgets(buf, sizeof buf, p)) out += buf;
      pclose(p);
    }
    return out;
  }
};
