#include "platform/environment.h"

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include "platform/extended_path.h"
#include "platform/text.h"
#include "platform/win32/win32_handles.h"

namespace platform {

namespace {

constexpr std::size_t kModulePathUnits = 260;
constexpr std::size_t kLongestPathUnits = 32768;

// The version query of ntdll, which, unlike GetVersionExW, is not bent by compatibility shims.
using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);

static_assert(sizeof(RTL_OSVERSIONINFOW) == 276, "RtlGetVersion expects the 276-byte structure");

}  // namespace

bool ownExecutablePath(std::filesystem::path& result) {
  // A path that does not fit comes back cut off (the length is then the buffer's): try again
  // with more room, up to the longest path Windows has.
  std::wstring buffer(kModulePathUnits, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    if (buffer.size() >= kLongestPathUnits) return false;
    buffer.resize(buffer.size() * 2);
  }
  // Started by its extended-length name, the launcher still shows and registers the classic one.
  result = std::filesystem::path(withoutExtendedPrefix(buffer));
  return true;
}

std::vector<NativeString> launcherArguments(int, char**) {
  std::vector<NativeString> arguments;
  int count = 0;
  win32::LocalMemory<wchar_t*> split(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!split) return arguments;
  for (int index = 1; index < count; ++index) {
    const wchar_t* argument = split.get()[index];
    arguments.emplace_back(argument ? argument : L"");
  }
  return arguments;
}

std::string describePlatform() {
  std::string text = "Windows";
  RtlGetVersionFunction rtlGetVersion = nullptr;
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    if (FARPROC address = GetProcAddress(ntdll, "RtlGetVersion")) {
      rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(address));
    }
  }
  RTL_OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (rtlGetVersion && rtlGetVersion(&version) == 0) {
    text += " " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + " build " +
            std::to_string(version.dwBuildNumber);
  } else {
    text += "（无法读取版本号）";
  }
  text += " x64";
  return text;
}

bool isChineseUi() { return isChineseLanguageId(GetUserDefaultUILanguage()); }

std::uint32_t currentProcessId() { return GetCurrentProcessId(); }

std::error_code systemRandomBytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ULONG part = size > 0x10000000 ? 0x10000000UL : static_cast<ULONG>(size);
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes, part, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) return std::error_code(static_cast<int>(ERROR_GEN_FAILURE), std::system_category());
    bytes += part;
    size -= part;
  }
  return {};
}

std::string computerName() {
  wchar_t name[256];
  DWORD length = static_cast<DWORD>(sizeof name / sizeof name[0]);
  if (!GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &length)) return {};
  return toUtf8(NativeString(name, length));
}

std::tm localTime(std::time_t moment) {
  std::tm result{};
  if (localtime_s(&result, &moment) != 0) return std::tm{};
  return result;
}

}  // namespace platform
