// System message texts as the launcher log shows them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace {

// The system's own text for a code, untrimmed, as UTF-8.
std::string rawSystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const std::string text = length ? platform::toUtf8(std::wstring(buffer, length)) : std::string();
  LocalFree(buffer);
  return text;
}

TEST(WindowsErrorText, SystemTextWithoutItsTrailingBreaksAndFullStop) {
  for (DWORD code : {ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION}) {
    const std::string raw = rawSystemMessage(code);
    ASSERT_FALSE(raw.empty()) << "the system has a text for " << code;
    const std::string text = platform::windowsErrorText(code);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text, "未知系统错误") << code;
    // The text is the system's text with only line breaks, blanks and full stops cut off its end.
    ASSERT_EQ(raw.compare(0, text.size(), text), 0) << code << ": " << text;
    EXPECT_EQ(raw.find_first_not_of("\r\n .", text.size()), std::string::npos) << code << ": " << raw;
    EXPECT_EQ(std::string("\r\n .").find(text.back()), std::string::npos) << code << ": " << text;
  }
}

TEST(WindowsErrorText, CodeWithoutSystemTextGivesTheFallback) {
  for (DWORD code : {0x20001234u, 0xE0F0F0F0u}) {
    ASSERT_TRUE(rawSystemMessage(code).empty()) << code;
    EXPECT_EQ(platform::windowsErrorText(code), "未知系统错误") << code;
  }
}

TEST(Utf8Conversion, UnpairedSurrogateBecomesReplacementCharacter) {
  // Windows paths may hold UTF-16 that is not well formed; the log still gets a line.
  EXPECT_EQ(platform::toUtf8(std::wstring(L"a\xD800z")), "a\xEF\xBF\xBDz");
  platform::NativeString native;
  EXPECT_TRUE(platform::fromUtf8Strict("\xE4\xB8\xAD", native));
  EXPECT_EQ(native, L"\u4E2D");
  EXPECT_EQ(platform::fromUtf8("a\xFFz"), std::wstring(L"a\uFFFDz"));
}

}  // namespace
