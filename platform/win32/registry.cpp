#include "platform/win32/registry.h"

#include "platform/environment.h"

namespace platform {

namespace win32 {

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
  const std::wstring command = L"\"" + launcherPath + L"\" \"%1\"";
  setRegistryString(HKEY_CURRENT_USER, key + L"\\shell\\open\\command", nullptr, command);
}

}  // namespace win32

void registerUrlProtocols() {
  std::filesystem::path launcher;
  // A truncated path would register a handler that cannot start, so nothing is written.
  if (!ownExecutablePath(launcher)) return;
  win32::registerUrlProtocol(L"oloma", L"URL:Oloma Protocol", launcher.native());
  win32::registerUrlProtocol(L"vardel", L"URL:Vardel Protocol", launcher.native());
}

}  // namespace platform
