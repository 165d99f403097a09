#pragma once
// The fast dips at the Z controller: its own program dips, given its
// registers, started with "RUN" and watched until it stands.
#include <cstdint>
#include <functional>

#include "machine/Motion.h"
#include "recipes/Definitions.h"

extern const char *const FastDipsEmergencyText;

// The watch works on the axis operations with the controller's address as
// axis number; only real axis numbers may index the axis table.
inline bool IsAxisAddress(uint8_t a) { return a >= 1 && a <= 3; }

// Writes the program's registers for `e` to the controller at `a`.
void LoadFastDips(uint8_t a, const TProcEntry &e);

enum class TWatchEnd { Stands, Lost };
// Polls the running program at `a` until the controller reports that it
// stands; a STOP stops it. Reads go to `sink`; `toDo` hears every count of
// dips still to do that differs from `shown`, which it updates.
TWatchEnd WatchFastDips(uint8_t a, const TPositionSink &sink, int32_t &shown,
                        const std::function<void(int32_t)> &toDo);
