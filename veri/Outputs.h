#pragma once
// Digital outputs: pins of the axis controllers, written as P(1200 + pin).
// Channels are 1-based indices into DigOutTable; address 0 = not wired.
#include <cstdint>

// Sets the channel's State and writes it, also when it is already so.
// True when the write went out and was answered; false for an unwired
// channel (nothing sent) or a failed write.
bool VERIOut(int channel, uint8_t state);
// Inverts the channel's State and writes it.
void VERIToggleOut(int channel);
