// Load and save time of a full recipe: 255 positions, 127 processes and 31
// tasks, the most the tables hold.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "base/Host.h"
#include "recipes/Definitions.h"
#include "recipes/DefinitionsFile.h"

namespace {
double Ms(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void FillFull() {
  ResetDefinitions();
  for (int i = 1; i <= 255; ++i) AppendPosition({"Pos" + std::to_string(i), i * 0.2, i * 0.08});
  for (int i = 1; i <= 127; ++i) {
    TProcEntry e;
    e.Name = "Proc" + std::to_string(i);
    e.PosNo = uint8_t(i);
    e.InSpeed = 0.5, e.OutSpeed = 0.25, e.UpperPos = 2, e.LowPos = 12.5;
    e.InTime = 30, e.OutTime = 5, e.ChNo = 1, e.ChMode = 2, e.NoTunks = 3;
    AppendProcess(e);
  }
  std::string line = "(Proc1 + Proc2)*3";
  while (line.size() < 240) line += " + Proc" + std::to_string(line.size() % 127 + 1);
  for (int i = 1; i <= 31; ++i) AppendTask({"Task" + std::to_string(i), line});
}
}  // namespace

int main() {
  char tmpl[] = "/tmp/kvbench-recipe-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string path = std::string(tmpl) + "/Full.dip";
  FillFull();
  const int rounds = 20;
  double save = 0, load = 0;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    if (!SaveDefinitions(path)) return 1;
    save += Ms(t0);
    t0 = std::chrono::steady_clock::now();
    if (!LoadDefinitions(path, false, nullptr)) return 1;
    load += Ms(t0);
  }
  if (PosCount != 255 || ProcCount != 127 || TaskCount != 31) {
    std::printf("error: read back %d/%d/%d entries\n", PosCount, ProcCount, TaskCount);
    return 1;
  }
  std::printf("recipe_save_full: %.2f ms\n", save / rounds);
  std::printf("recipe_load_full: %.2f ms\n", load / rounds);
  std::system((std::string("rm -rf '") + tmpl + "'").c_str());
  return 0;
}
