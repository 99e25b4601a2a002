#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace testing_support {

// Why symbolic links cannot be made in `directory` on this system, or "" when they can.
// Windows grants link creation only to some accounts, and Wine 8 creates none at all; a test
// that needs links skips with this reason there instead of failing.
std::string symlinkUnavailableReason(const std::filesystem::path& directory);

}  // namespace testing_support

// Skips the current test, saying why, when no symbolic link can be made in `directory`.
#define SKIP_WITHOUT_SYMLINKS(directory)                                                             \
  if (const std::string kestrunLinkGap = testing_support::symlinkUnavailableReason(directory);     \
      !kestrunLinkGap.empty())                                                                        \
  GTEST_SKIP() << kestrunLinkGap
