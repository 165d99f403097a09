#include "veri/Outputs.h"

#include "base/Machine.h"
#include "veri/Params.h"

namespace {
TDigOutEntry *Wired(int channel) {
  if (channel < 1 || channel > DigOutMax) return nullptr;
  TDigOutEntry &e = DigOutTable[channel];
  return e.Address == 0 ? nullptr : &e;
}
}  // namespace

bool VERIOut(int channel, uint8_t state) {
  TDigOutEntry *e = Wired(channel);
  if (!e) return false;
  e->State = state;
  return VERIPutParamI(e->Address, 1200 + e->Pin, state).empty();
}

void VERIToggleOut(int channel) {
  TDigOutEntry *e = Wired(channel);
  if (!e) return;
  e->State = e->State != 0 ? 0 : 1;
  VERIPutParamI(e->Address, 1200 + e->Pin, e->State);
}
