#pragma once
// Digital outputs: pins of the axis controllers, written as P(1200 + pin).
// Channels are 1-based indices into DigOutTable; address 0 = not wired.
#include <cstdint>

// Sets the channel's State and writes it, also when it is already so.
void VERIOut(int channel, uint8_t state);
// Inverts the channel's State and writes it.
void VERIToggleOut(int channel);
