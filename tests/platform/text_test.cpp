#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kUnknown = "未知系统错误";

TEST(TrimSystemMessage, RemovesTrailingBreaksBlanksAndFullStopsOnly) {
  const struct {
    const char* input;
    std::string expected;
  } cases[] = {
      {"Access is denied.\r\n", "Access is denied"},
      {"No such file or directory", "No such file or directory"},
      {"Trailing mix. . \n\r", "Trailing mix"},
      {"  leading blanks stay", "  leading blanks stay"},
      {"inner. full. stops", "inner. full. stops"},
      {"tab stays\t", "tab stays\t"},
      {"拒绝访问。\r\n", "拒绝访问。"},
      {"", kUnknown},
      {"...", kUnknown},
      {" \r\n. ", kUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::trimSystemMessage(c.input), c.expected) << '"' << c.input << '"';
  }
}

TEST(WindowsErrorText, SuccessHasTheSystemsTextWithoutItsFullStop) {
  const std::string text = platform::windowsErrorText(0);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text, kUnknown);
  for (char last : {'.', '\n', '\r', ' '}) EXPECT_NE(text.back(), last);
}

TEST(WindowsErrorText, CodeWithoutSystemTextGivesFallback) {
  EXPECT_EQ(platform::windowsErrorText(0x7FFFFFF0u), kUnknown);
}

TEST(Utf8Conversion, RoundTripsThroughNativeText) {
  for (const std::string& text : {std::string(), std::string("plain"), std::string("中文 路径/文件.txt"),
                                 std::string("emoji \xF0\x9F\x98\x80")}) {
    platform::NativeString native;
    ASSERT_TRUE(platform::fromUtf8Strict(text, native)) << text;
    EXPECT_EQ(platform::toUtf8(native), text);
    EXPECT_EQ(platform::toUtf8(platform::fromUtf8(text)), text);
    EXPECT_EQ(platform::pathToUtf8(platform::pathFromUtf8(text)), text);
  }
}

TEST(Utf8Conversion, StrictDecodingRejectsBrokenSequences) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"lone continuation byte", "a\x80z"},
      {"byte that never occurs", "\xFF"},
      {"truncated three-byte sequence", "\xE4\xB8"},
      {"truncated at the end after valid text", "ok\xE4"},
      {"lead byte followed by ASCII", "\xC3" "A"},
  };
  for (const auto& c : cases) {
    platform::NativeString native = platform::fromUtf8("left over");
    EXPECT_FALSE(platform::fromUtf8Strict(c.bytes, native)) << c.name;
    EXPECT_TRUE(native.empty()) << c.name;
  }
}

}  // namespace
