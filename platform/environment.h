#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/native_string.h"

namespace platform {

// The launcher's own executable file. False when it cannot be read, or on Windows when
// it does not fit into 260 UTF-16 units.
bool ownExecutablePath(std::filesystem::path& result);

// The launcher's own arguments after its program name, in order. On Windows they come from
// GetCommandLineW split by CommandLineToArgvW (argc/argv are ignored there); a failed split
// gives none. Elsewhere they are argv[1..argc-1].
std::vector<NativeString> launcherArguments(int argc, char** argv);

// One line that names the operating system, e.g. "Windows 10.0 build 19045 x64" or
// "Linux 6.1.0 x86_64".
std::string describePlatform();

// Makes the launcher the handler of the "oloma" and "vardel" URL schemes for the current
// user. Silent: every failure is ignored.
void registerUrlProtocols();

// Takes back one installation's registration of those schemes: a scheme whose handler is the
// launcher at `launcherPath`, exactly as registerUrlProtocols would have written it for that
// path (on Windows letter case aside), is removed; a scheme another installation (or program)
// handles is left alone. Gives the number of schemes removed; a failure leaves that one.
int unregisterUrlProtocols(const std::filesystem::path& launcherPath);

// True when the user's UI language is Chinese (any variant).
bool isChineseUi();

// The language rules behind isChineseUi, as pure functions.
bool isChineseLanguageId(std::uint16_t languageId);     // a Windows LANGID
bool isChineseLocaleName(const std::string& localeName); // e.g. "zh_CN.UTF-8"

std::uint32_t currentProcessId();

// Fills `buffer` from the system's own random source (Linux: getrandom; Windows:
// BCryptGenRandom), never from a seeded generator of the program.
std::error_code systemRandomBytes(void* buffer, std::size_t size);

// The computer's own name (UTF-8), or empty when the system does not say: on Linux the static
// host name (/etc/hostname), not one a DHCP lease set. A copied machine image is usually given
// a new one.
std::string computerName();

// Local calendar time of a moment (thread-safe).
std::tm localTime(std::time_t moment);

}  // namespace platform
