// The URL-scheme registration, read back from the registry exactly as Windows stores it.
// It writes the current user's oloma and vardel keys, as every launcher start does; the
// test script runs it in a throwaway Wine prefix.
#include "platform/win32/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace {

struct RegistryValue {
  bool present = false;
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  std::wstring text;  // the data as UTF-16 units, terminating NUL included
};

RegistryValue readValue(const std::wstring& subkey, const wchar_t* name) {
  RegistryValue value;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
  std::vector<wchar_t> buffer(4096);
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  const LSTATUS status =
      RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return value;
  value.present = true;
  value.bytes = bytes;
  value.text.assign(buffer.data(), bytes / sizeof(wchar_t));
  return value;
}

// A REG_SZ value holding `text` with its terminating NUL, and nothing else.
void expectString(const std::wstring& subkey, const wchar_t* name, const std::wstring& text) {
  const RegistryValue value = readValue(subkey, name);
  const std::string where = std::filesystem::path(subkey + L" : " + (name ? name : L"(default)")).u8string();
  ASSERT_TRUE(value.present) << where;
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << where;
  EXPECT_EQ(value.bytes, (text.size() + 1) * sizeof(wchar_t)) << where;
  EXPECT_EQ(value.text, text + L'\0') << where;

  // RegGetValueW reads the same value through its own checks of type and termination.
  std::vector<wchar_t> buffer(4096);
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, subkey.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes),
            ERROR_SUCCESS)
      << where;
  EXPECT_EQ(std::wstring(buffer.data()), text) << where;
}

// Removes a test scheme's keys when the test ends.
struct SchemeKeys {
  explicit SchemeKeys(std::wstring scheme) : key(L"Software\\Classes\\" + std::move(scheme)) {}
  ~SchemeKeys() { RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()); }
  std::wstring key;
};

TEST(UrlProtocols, BothSchemesPointAtTheLauncherItself) {
  std::filesystem::path launcher;
  ASSERT_TRUE(platform::ownExecutablePath(launcher));
  platform::registerUrlProtocols();

  const struct {
    const wchar_t* scheme;
    const wchar_t* displayText;
  } schemes[] = {{L"oloma", L"URL:Oloma Protocol"}, {L"vardel", L"URL:Vardel Protocol"}};
  for (const auto& s : schemes) {
    const std::wstring key = std::wstring(L"Software\\Classes\\") + s.scheme;
    expectString(key, nullptr, s.displayText);
    expectString(key, L"URL Protocol", L"");
    expectString(key + L"\\shell\\open\\command", nullptr, L"\"" + launcher.native() + L"\" \"%1\"");
  }
}

TEST(UrlProtocols, LauncherPathWithSpacesIsQuotedAndRewrittenOnTheNextStart) {
  SchemeKeys keys(L"kestrun-test-scheme");
  const std::wstring commandKey = keys.key + L"\\shell\\open\\command";
  const struct {
    const wchar_t* launcherPath;
    const wchar_t* command;
  } starts[] = {
      {L"C:\\Program Files\\Fennick\\Kestrun.exe", L"\"C:\\Program Files\\Fennick\\Kestrun.exe\" \"%1\""},
      // The installation was moved: the next start re-points the scheme.
      {L"D:\\新 位置\\Kestrun.exe", L"\"D:\\新 位置\\Kestrun.exe\" \"%1\""},
  };
  for (const auto& start : starts) {
    platform::win32::registerUrlProtocol(L"kestrun-test-scheme", L"URL:Kestrun Test Protocol", start.launcherPath);
    expectString(keys.key, nullptr, L"URL:Kestrun Test Protocol");
    expectString(keys.key, L"URL Protocol", L"");
    expectString(commandKey, nullptr, start.command);
  }
}

TEST(UrlProtocols, OnlyTheSchemesOfThisLauncherAreUnregistered) {
  const struct {
    const wchar_t* registeredFor;
    const wchar_t* unregisteredFor;
    bool removed;
  } rows[] = {
      {L"C:\\Program Files\\Fennick\\Kestrun.exe", L"c:\\program files\\fennick\\KESTRUN.EXE", true},
      {L"C:\\Program Files\\Fennick\\Kestrun.exe", L"D:\\Fennick\\Kestrun.exe", false},
      {L"C:\\Fennick\\Kestrun.exe", L"C:\\Fennick\\Kestrun.exe.bak", false},
  };
  for (const auto& row : rows) {
    SchemeKeys keys(L"kestrun-test-scheme");
    platform::win32::registerUrlProtocol(L"kestrun-test-scheme", L"URL:Kestrun Test Protocol", row.registeredFor);
    EXPECT_EQ(platform::win32::unregisterUrlProtocol(L"kestrun-test-scheme", row.unregisteredFor), row.removed);
    EXPECT_EQ(readValue(keys.key, L"URL Protocol").present, !row.removed);
  }
  std::filesystem::path launcher;
  ASSERT_TRUE(platform::ownExecutablePath(launcher));
  platform::registerUrlProtocols();
  EXPECT_EQ(platform::unregisterUrlProtocols(launcher), 2);
  EXPECT_FALSE(readValue(L"Software\\Classes\\vardel", L"URL Protocol").present);
}

TEST(SetRegistryString, ReportsKeyCreationFailureOtherwiseTheClose) {
  SchemeKeys keys(L"kestrun-test-values");
  EXPECT_EQ(platform::win32::setRegistryString(HKEY_CURRENT_USER, keys.key, L"named", L"value"), ERROR_SUCCESS);
  expectString(keys.key, L"named", L"value");

  HKEY noKey = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234560));
  EXPECT_NE(platform::win32::setRegistryString(noKey, L"Software\\Kestrun", nullptr, L"x"), ERROR_SUCCESS);
}

}  // namespace
