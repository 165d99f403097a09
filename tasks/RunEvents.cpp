#include "tasks/RunEvents.h"

#include <utility>
#include <vector>

namespace {
struct TEntry {
  int Id;
  TRunListener Listener;
};
std::vector<TEntry> &Listeners() {
  static std::vector<TEntry> list;
  return list;
}
int NextId = 1;
}  // namespace

int AddRunListener(TRunListener listener) {
  Listeners().push_back({NextId, std::move(listener)});
  return NextId++;
}

void RemoveRunListener(int id) {
  auto &l = Listeners();
  for (auto it = l.begin(); it != l.end(); ++it)
    if (it->Id == id) {
      l.erase(it);
      return;
    }
}

void SendRunEvent(const TRunEvent &event) {
  // A copy: a listener may add or remove listeners while it is told.
  const std::vector<TEntry> list = Listeners();
  for (const TEntry &e : list) e.Listener(event);
}
