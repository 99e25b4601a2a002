// What the launcher learns about its own process and system.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/environment.h"

namespace {

TEST(DescribePlatform, NamesWindowsItsVersionOrTheFallbackAndX64) {
  const std::string text = platform::describePlatform();
  const std::regex numbered("Windows [0-9]+\\.[0-9]+ build [0-9]+ x64");
  const bool fallback = text == "Windows（无法读取版本号） x64";
  EXPECT_TRUE(std::regex_match(text, numbered) || fallback) << text;
  // Every Windows (and Wine) this runs on has RtlGetVersion.
  EXPECT_FALSE(fallback);
}

TEST(OwnExecutablePath, IsTheRunningTestProgram) {
  std::filesystem::path self;
  ASSERT_TRUE(platform::ownExecutablePath(self));
  EXPECT_TRUE(self.is_absolute()) << self;
  EXPECT_EQ(self.filename(), "kestrun_windows_tests.exe");
  EXPECT_TRUE(std::filesystem::is_regular_file(self));
}

}  // namespace
