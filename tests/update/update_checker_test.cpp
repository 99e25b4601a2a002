// The update client as the server check phase receives it from the constructor.
#include <gtest/gtest.h>

#include <string>

#include "update/update_checker.h"

namespace {

struct BaseAddressCase {
  const char* given;
  const char* stored;
};

TEST(UpdateChecker, ConstructorDropsOnlyTrailingSlashesOfTheBaseAddress) {
  const BaseAddressCase cases[] = {
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080"},
      {"http://127.0.0.1:8080///", "http://127.0.0.1:8080"},
      {"http://127.0.0.1:8080/api//", "http://127.0.0.1:8080/api"},
      {"///", ""},  // later reported as an unconfigured server
      {"", ""},
      {" http://127.0.0.1/ ", " http://127.0.0.1/ "},  // blanks are not trimmed, so the slash stays
      {"http://127.0.0.1\\", "http://127.0.0.1\\"},    // only '/' is removed
  };
  for (const BaseAddressCase& c : cases) {
    const UpdateChecker checker(c.given, "windows", "install", "install/update_staging");
    EXPECT_EQ(checker.baseUrl, c.stored) << "given " << c.given;
  }
}

TEST(UpdateChecker, FreshClientHasItsDefaults) {
  const UpdateChecker checker("http://127.0.0.1:1", "windows", "install", "install/update_staging");
  EXPECT_EQ(checker.platform, "windows");
  EXPECT_EQ(checker.installDir, std::filesystem::path("install"));
  EXPECT_EQ(checker.stagingDir, std::filesystem::path("install/update_staging"));
  EXPECT_TRUE(checker.caBundlePath.empty());
  EXPECT_EQ(checker.connectTimeoutSeconds, 5);
  EXPECT_FALSE(checker.cancelCheck);
  EXPECT_TRUE(checker.lockedPatterns.empty());
  EXPECT_TRUE(checker.forbiddenPatterns.empty());
  EXPECT_TRUE(checker.pending.empty());
}

}  // namespace
