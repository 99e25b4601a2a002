#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/filesystem.h"

namespace testing_support {

// The kind of the item at `path`, failing the test when the query reports an error.
inline platform::ItemKind kindOf(const std::filesystem::path& path, bool followLinks = true) {
  platform::ItemKind kind = platform::ItemKind::Other;
  const std::error_code error = platform::queryItemKind(path, followLinks, kind);
  EXPECT_FALSE(error) << path.string() << ": " << error.value() << " " << error.message();
  return kind;
}

}  // namespace testing_support
