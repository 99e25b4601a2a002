// The launcher's surroundings on Linux.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "tests/platform/scoped_environment.h"

namespace {

using testing_support::ScopedEnvironment;
using Value = std::optional<std::string>;

TEST(PosixEnvironment, OwnExecutableIsThisTestProgram) {
  std::filesystem::path own;
  ASSERT_TRUE(platform::ownExecutablePath(own));
  EXPECT_TRUE(own.is_absolute());
  EXPECT_EQ(own.filename(), "kestrun_platform_tests");
  EXPECT_TRUE(std::filesystem::is_regular_file(own));
}

TEST(PosixEnvironment, LauncherArgumentsAreArgvAfterTheProgramName) {
  char program[] = "/opt/fennick/kestrun";
  char url[] = "vardel://open?id=1";
  char empty[] = "";
  char spaced[] = "with space \"quoted\"";
  char* argv[] = {program, url, empty, spaced, nullptr};
  const std::vector<platform::NativeString> expected = {"vardel://open?id=1", "", "with space \"quoted\""};
  EXPECT_EQ(platform::launcherArguments(4, argv), expected);
  EXPECT_TRUE(platform::launcherArguments(1, argv).empty());
  EXPECT_TRUE(platform::launcherArguments(0, nullptr).empty());
  char* withNull[] = {program, nullptr, url};
  const std::vector<platform::NativeString> nullBecomesEmpty = {"", "vardel://open?id=1"};
  EXPECT_EQ(platform::launcherArguments(3, withNull), nullBecomesEmpty);
}

TEST(PosixEnvironment, PlatformLineNamesSystemReleaseAndMachine) {
  const std::string line = platform::describePlatform();
  std::istringstream words(line);
  std::string system, release, machine, rest;
  words >> system >> release >> machine;
  EXPECT_EQ(system, "Linux");
  EXPECT_FALSE(release.empty());
  EXPECT_FALSE(machine.empty());
  EXPECT_FALSE(words >> rest) << line;
  EXPECT_EQ(line, system + " " + release + " " + machine);
}

TEST(PosixEnvironment, ChineseUiFollowsTheFirstSetLocaleVariable) {
  const struct {
    const char* name;
    Value lcAll, lcMessages, lang;
    bool chinese;
  } cases[] = {
      {"LANG alone", std::nullopt, std::nullopt, Value("zh_CN.UTF-8"), true},
      {"English LANG", std::nullopt, std::nullopt, Value("en_US.UTF-8"), false},
      {"LC_MESSAGES before LANG", std::nullopt, Value("zh_TW.UTF-8"), Value("en_US.UTF-8"), true},
      {"LC_ALL before everything", Value("en_GB.UTF-8"), Value("zh_CN.UTF-8"), Value("zh_CN.UTF-8"), false},
      {"empty LC_ALL is skipped", Value(""), Value(""), Value("zh_HK.UTF-8"), true},
      {"nothing set", std::nullopt, std::nullopt, std::nullopt, false},
      {"C locale", Value("C"), std::nullopt, Value("zh_CN.UTF-8"), false},
  };
  for (const auto& c : cases) {
    ScopedEnvironment lcAll("LC_ALL", c.lcAll);
    ScopedEnvironment lcMessages("LC_MESSAGES", c.lcMessages);
    ScopedEnvironment lang("LANG", c.lang);
    EXPECT_EQ(platform::isChineseUi(), c.chinese) << c.name;
  }
}

TEST(PosixEnvironment, LocalTimeFollowsTheTimeZone) {
  const struct {
    const char* zone;
    int hour;
    int day;
  } cases[] = {{"UTC0", 0, 1}, {"CST-8", 8, 1}, {"EST5", 19, 31}};
  for (const auto& c : cases) {
    ScopedEnvironment zone("TZ", Value(c.zone));
    const std::tm local = platform::localTime(0);
    EXPECT_EQ(local.tm_hour, c.hour) << c.zone;
    EXPECT_EQ(local.tm_mday, c.day) << c.zone;
  }
}

}  // namespace
