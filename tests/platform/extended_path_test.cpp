#include "platform/extended_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathCase {
  const char* name;
  std::wstring path;
  std::wstring extended;
};

const std::wstring kLong = L"C:\\Users\\" + std::wstring(300, L'n') + L"\\Vardel.exe";

TEST(ExtendedLengthPath, FullPathsGetThePrefixOthersStayAsGiven) {
  const PathCase cases[] = {
      {"drive path", L"C:\\Fennick\\Vardel.exe", L"\\\\?\\C:\\Fennick\\Vardel.exe"},
      {"past 300 characters", kLong, L"\\\\?\\" + kLong},
      {"drive root", L"d:\\", L"\\\\?\\d:\\"},
      {"forward slashes", L"C:/Fennick/data/a.pak", L"\\\\?\\C:\\Fennick\\data\\a.pak"},
      {"share", L"\\\\server\\share\\Fennick", L"\\\\?\\UNC\\server\\share\\Fennick"},
      {"already extended", L"\\\\?\\C:\\Fennick", L"\\\\?\\C:\\Fennick"},
      {"already extended share", L"\\\\?\\UNC\\s\\x", L"\\\\?\\UNC\\s\\x"},
      {"device namespace", L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
      {"relative", L"Fennick\\Vardel.exe", L"Fennick\\Vardel.exe"},
      {"drive relative", L"C:Fennick", L"C:Fennick"},
      {"root relative", L"\\Fennick", L"\\Fennick"},
      {"server without share", L"\\\\server", L"\\\\server"},
      {"reserved last element", L"C:\\Fennick\\NUL", L"C:\\Fennick\\NUL"},
      {"reserved element inside", L"C:\\Fennick\\com1.txt\\a", L"C:\\Fennick\\com1.txt\\a"},
      {"empty", L"", L""},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(platform::toExtendedLengthPath(c.path), c.extended) << c.name;
    // Log lines and messages show the classic form again.
    if (c.path.find(L'/') == std::wstring::npos && c.path.rfind(L"\\\\?\\", 0) != 0) {
      EXPECT_EQ(platform::withoutExtendedPrefix(c.extended), c.path) << c.name;
    }
  }
}

TEST(ExtendedLengthPath, ReservedDeviceNamesInAnyCaseAndWithExtension) {
  for (const wchar_t* name : {L"CON", L"prn", L"Aux", L"nul.txt", L"COM1", L"lpt9.log", L"CON ", L"COM\u00B9"}) {
    EXPECT_TRUE(platform::isReservedDeviceName(name)) << std::wstring(name).size();
  }
  for (const wchar_t* name : {L"CONSOLE", L"COM0", L"COM10", L"xnul", L"LPT", L""}) {
    EXPECT_FALSE(platform::isReservedDeviceName(name));
  }
}

}  // namespace
