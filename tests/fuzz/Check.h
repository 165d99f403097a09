#pragma once
// Names the broken invariant before the crash that libFuzzer reports.
#include <cstdio>
#include <cstdlib>

#define Check(ok) \
  do { \
    if (!(ok)) { \
      fprintf(stderr, "invariant broken: %s (line %d)\n", #ok, __LINE__); \
      abort(); \
    } \
  } while (0)
