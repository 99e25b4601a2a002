#pragma once

#include <cstdio>
#include <cstdlib>

// A launcher test program's standard error goes to the file that the test names in
// KESTRUN_TEST_STDERR, byte for byte: a Windows program started by a test has no other way to
// hand it over.
inline void redirectStandardErrorForTest() {
  if (const char* file = std::getenv("KESTRUN_TEST_STDERR")) {
    if (!std::freopen(file, "ab", stderr)) std::perror("KESTRUN_TEST_STDERR");
  }
}
