#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/environment.h"

namespace {

TEST(LanguageRules, EveryChineseLanguageIdAndNothingElse) {
  const struct {
    const char* name;
    std::uint16_t languageId;
    bool chinese;
  } cases[] = {
      {"zh-CN", 0x0804, true},
      {"zh-TW", 0x0404, true},
      {"zh-HK", 0x0C04, true},
      {"zh-SG", 0x1004, true},
      {"zh-MO", 0x1404, true},
      {"zh-Hans neutral", 0x0004, true},
      {"zh-Hant neutral", 0x7C04, true},
      {"ja-JP", 0x0411, false},
      {"ko-KR", 0x0412, false},
      {"en-US", 0x0409, false},
      {"a sub-language without a primary language", 0x0400, false},
      {"zero", 0x0000, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::isChineseLanguageId(c.languageId), c.chinese) << c.name;
  }
}

TEST(LanguageRules, ChineseLocaleNames) {
  const struct {
    const char* localeName;
    bool chinese;
  } cases[] = {
      {"zh_CN.UTF-8", true}, {"zh_TW.UTF-8", true}, {"zh_HK.Big5-HKSCS", true}, {"zh_SG", true},
      {"zh", true},          {"en_US.UTF-8", false}, {"ja_JP.UTF-8", false},     {"C", false},
      {"C.UTF-8", false},    {"POSIX", false},       {"", false},                {"z", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::isChineseLocaleName(c.localeName), c.chinese) << '"' << c.localeName << '"';
  }
}

}  // namespace
