#pragma once
// What every harness shares: an oracle that fails loudly, so that libFuzzer
// records the input that broke it.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                            \
    }                                                                          \
  } while (0)
