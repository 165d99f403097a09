#pragma once
// Names the broken invariant before the crash that libFuzzer reports.
#include <cstdio>
#include <cstdlib>

inline void CheckOrAbort(bool ok, const char *what, int line) {
  if (ok) return;
  fprintf(stderr, "invariant broken: %s (line %d)\n", what, line);
  abort();
}
#define Check(ok) CheckOrAbort(ok, #ok, __LINE__)
