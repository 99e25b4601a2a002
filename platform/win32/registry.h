#pragma once

#include <windows.h>

#include <string>

namespace platform::win32 {

// Points the URL scheme `scheme` of the current user at `launcherPath`: under
// HKEY_CURRENT_USER\Software\Classes\<scheme> the default value `displayText`, the value
// "URL Protocol" empty, and under its shell\open\command the default value
// "<launcherPath>" "%1". Every failure is ignored; existing values are overwritten.
void registerUrlProtocol(const std::wstring& scheme, const std::wstring& displayText,
                         const std::wstring& launcherPath);

// Removes HKEY_CURRENT_USER\Software\Classes\<scheme> with everything below it when its
// shell\open\command default value is the one registerUrlProtocol writes for `launcherPath`
// (letter case aside, as Windows compares paths). True when it was removed.
bool unregisterUrlProtocol(const std::wstring& scheme, const std::wstring& launcherPath);

// Creates (or opens) root\subkey for writing and sets the string value `name` (null for the
// default value) to `text` with its terminating NUL. Returns the status of the key creation
// when that failed, otherwise the status of closing the key; the value's own status is not
// examined.
LSTATUS setRegistryString(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& text);

}  // namespace platform::win32
