// Text rules that only hold for the Linux backend: native text is the UTF-8 itself, and error
// texts are the C library's untranslated ones.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/text.h"

namespace {

TEST(PosixWindowsErrorText, ErrnoValuesGiveTheCLibrarysText) {
  const struct {
    std::uint32_t code;
    const char* expected;
  } cases[] = {
      {0, "Success"},
      {ENOENT, "No such file or directory"},
      {EACCES, "Permission denied"},
      {ENOSPC, "No space left on device"},
      {4095, "未知系统错误"},
      {0xFFFFFFFFu, "未知系统错误"},
      {0x80000000u, "未知系统错误"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::windowsErrorText(c.code), c.expected) << c.code;
  }
}

TEST(PosixUtf8Conversion, StrictDecodingRejectsOverlongSurrogateAndOutOfRangeForms) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"overlong NUL", "\xC0\x80"},
      {"overlong slash", "\xE0\x80\xAF"},
      {"overlong four-byte", "\xF0\x80\x80\x80"},
      {"high surrogate", "\xED\xA0\x80"},
      {"low surrogate", "\xED\xBF\xBF"},
      {"above U+10FFFF", "\xF4\x90\x80\x80"},
      {"five-byte form", "\xF8\x88\x80\x80\x80"},
  };
  for (const auto& c : cases) {
    platform::NativeString native;
    EXPECT_FALSE(platform::fromUtf8Strict(c.bytes, native)) << c.name;
  }
  const struct {
    const char* name;
    std::string bytes;
  } valid[] = {
      {"last before surrogates", "\xED\x9F\xBF"},
      {"first after surrogates", "\xEE\x80\x80"},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF"},
      {"U+0080", "\xC2\x80"},
  };
  for (const auto& c : valid) {
    platform::NativeString native;
    EXPECT_TRUE(platform::fromUtf8Strict(c.bytes, native)) << c.name;
    EXPECT_EQ(native, c.bytes) << c.name;
  }
}

TEST(PosixUtf8Conversion, LenientConversionKeepsBytesAsTheyAre) {
  // File names on Linux are bytes; a name that is not UTF-8 must still reach the log intact.
  const std::string bytes = "name-\xFF.log";
  EXPECT_EQ(platform::fromUtf8(bytes), bytes);
  EXPECT_EQ(platform::pathToUtf8(platform::pathFromUtf8(bytes)), bytes);
}

}  // namespace
