#include "platform/win32/registry.h"

#include "platform/environment.h"
#include "platform/extended_path.h"
#include "platform/win32/long_path.h"

namespace platform {

namespace win32 {

namespace {

// What a scheme runs: the launcher with the URL as its one argument.
std::wstring openCommand(const std::wstring& launcherPath) { return L"\"" + launcherPath + L"\" \"%1\""; }

}  // namespace

LSTATUS setRegistryString(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  const LSTATUS created =
      RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (created != ERROR_SUCCESS) return created;
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  return RegCloseKey(key);
}

void registerUrlProtocol(const std::wstring& scheme, const std::wstring& displayText,
                         const std::wstring& launcherPath) {
  const std::wstring key = L"Software\\Classes\\" + scheme;
  // Each value is written on its own, so one that fails does not keep the others out.
  setRegistryString(HKEY_CURRENT_USER, key, nullptr, displayText);
  setRegistryString(HKEY_CURRENT_USER, key, L"URL Protocol", L"");
  setRegistryString(HKEY_CURRENT_USER, key + L"\\shell\\open\\command", nullptr, openCommand(launcherPath));
}

bool unregisterUrlProtocol(const std::wstring& scheme, const std::wstring& launcherPath) {
  const std::wstring key = L"Software\\Classes\\" + scheme;
  std::wstring registered(4096, L'\0');
  DWORD bytes = static_cast<DWORD>(registered.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, (key + L"\\shell\\open\\command").c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                   registered.data(), &bytes) != ERROR_SUCCESS) {
    return false;
  }
  registered.resize(bytes / sizeof(wchar_t));
  while (!registered.empty() && registered.back() == L'\0') registered.pop_back();
  const std::wstring ours = openCommand(launcherPath);
  // Another installation's launcher keeps its schemes.
  if (CompareStringOrdinal(registered.c_str(), static_cast<int>(registered.size()), ours.c_str(),
                           static_cast<int>(ours.size()), TRUE) != CSTR_EQUAL) {
    return false;
  }
  return RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()) == ERROR_SUCCESS;
}

}  // namespace win32

void registerUrlProtocols() {
  std::filesystem::path launcher;
  // A truncated path would register a handler that cannot start, so nothing is written.
  if (!ownExecutablePath(launcher)) return;
  win32::registerUrlProtocol(L"oloma", L"URL:Oloma Protocol", launcher.native());
  win32::registerUrlProtocol(L"vardel", L"URL:Vardel Protocol", launcher.native());
}

int unregisterUrlProtocols(const std::filesystem::path& launcherPath) {
  // The launcher registers the path it was started from, a full one.
  const std::wstring launcher = withoutExtendedPrefix(win32::systemPath(launcherPath));
  int removed = 0;
  for (const wchar_t* scheme : {L"oloma", L"vardel"}) removed += win32::unregisterUrlProtocol(scheme, launcher) ? 1 : 0;
  return removed;
}

}  // namespace platform
