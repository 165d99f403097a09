#pragma once
// Pieces of process execution shared between its files.
#include <cstdint>

#include "recipes/Definitions.h"

// Runs the fast dips of `e` on the Z controller; returns false when they
// were interrupted (STOP, a lost controller, the operator ending the task at
// the emergency stop).
bool RunFastDips(const TProcEntry &e);
