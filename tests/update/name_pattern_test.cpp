#include "names/name_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace names {
namespace {

struct PatternCase {
  const char* name;
  const char* pattern;
  bool matches;
};

TEST(NamePattern, MatchesAsciiCaseInsensitivelyWithTrailingStar) {
  const PatternCase cases[] = {
      {"VCRUNTIME140.dll", "vcruntime140*", true},
      {"vcruntime140_1.dll", "vcruntime140*", true},
      {"vcruntime14.dll", "vcruntime140*", false},
      {"vcruntime140", "vcruntime140*", true},  // the star also matches an empty rest
      {"KESTRUN.EXE", "Kestrun.exe", true},
      {"kestrun.exe", "Kestrun.exe", true},
      {"Kestrun.exe.bak", "Kestrun.exe", false},
      {"Kestrun.ex", "Kestrun.exe", false},
      {"UCRTBASE.dll", "ucrtbase*", true},
      {"api-ms-win-core-file-l1-1-0.dll", "api-ms-win-*", true},
      {"anything at all", "*", true},
      {"", "*", true},
      {"", "", true},
      {"a", "", false},
      {"", "a*", false},
      {"a*b", "a*b", true},  // a star inside the pattern is an ordinary character
      {"axb", "a*b", false},
      {"a*b.dll", "a*b*", true},
      {"\xc3\x89.dll", "\xc3\xa9.dll", false},                      // É and é: no folding beyond ASCII
      {"\xe6\x95\xb0\xe6\x8d\xae.DLL", "\xe6\x95\xb0\xe6\x8d\xae.dll", true},  // 数据.DLL
      {"[a].dll", "{a}.dll", false},  // '[' and '{' differ by 0x20 but are not letters
      {"@", "`", false},
  };
  for (const PatternCase& c : cases) {
    EXPECT_EQ(matchesNamePattern(c.name, c.pattern), c.matches) << c.name << " against " << c.pattern;
  }
}

TEST(NamePattern, BaseNameIsTheTextAfterTheLastSlash) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"bin/UCRTBASE.dll", "UCRTBASE.dll"},
      {"a/b/c.txt", "c.txt"},
      {"Kestrun.exe", "Kestrun.exe"},
      {"dir/", ""},
      {"/root.txt", "root.txt"},
      {"", ""},
      {"a\\b.dll", "a\\b.dll"},  // only '/' separates; the check has already replaced backslashes
  };
  for (const auto& c : cases) EXPECT_EQ(baseNameOf(c.path), c.name) << c.path;
}

TEST(NamePattern, NameEndingInSlashMatchesOnlyEmptyOrStarPattern) {
  const std::string_view name = baseNameOf("plugins/");
  EXPECT_TRUE(matchesNamePattern(name, ""));
  EXPECT_TRUE(matchesNamePattern(name, "*"));
  EXPECT_FALSE(matchesNamePattern(name, "p*"));
}

}  // namespace
}  // namespace names
