#include <windows.h>

#include "platform/text.h"
#include "tests/run_flow/launcher_system.h"

namespace run_flow {

std::optional<std::string> environmentVariable(const std::string& name) {
  const std::wstring wideName = platform::fromUtf8(name);
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring value(length, L'\0');
  value.resize(GetEnvironmentVariableW(wideName.c_str(), value.data(), length));
  return platform::toUtf8(value);
}

void setEnvironmentVariable(const std::string& name, const std::optional<std::string>& value) {
  SetEnvironmentVariableW(platform::fromUtf8(name).c_str(), value ? platform::fromUtf8(*value).c_str() : nullptr);
}

std::vector<std::pair<std::string, std::optional<std::string>>> launcherEnvironment(const std::filesystem::path&) {
  // Windows keeps the user's settings in the registry, not below a home directory. Wine takes
  // a program's language from these variables, as Linux does; Windows ignores them.
  return {{"LANG", "C"}, {"LC_ALL", "C"}};
}

namespace {

BOOL CALLBACK collectStaticText(HWND child, LPARAM text) {
  wchar_t className[32] = {};
  GetClassNameW(child, className, 32);
  if (lstrcmpiW(className, L"Static") != 0) return TRUE;
  wchar_t part[1024] = {};
  GetWindowTextW(child, part, 1024);
  *reinterpret_cast<std::wstring*>(text) += part;
  return TRUE;
}

}  // namespace

void answerWarningBoxes(std::uint32_t processId, const std::function<void(const std::string&)>& seen) {
  // A message box is a dialog of the system's dialog class; the launcher shows no other dialog.
  HWND box = nullptr;
  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner != processId || !IsWindowVisible(box)) continue;
    wchar_t caption[256] = {};
    GetWindowTextW(box, caption, 256);
    std::wstring text;
    EnumChildWindows(box, collectStaticText, reinterpret_cast<LPARAM>(&text));
    seen(platform::toUtf8(caption) + ": " + platform::toUtf8(text));
    // Pressed only now: until then the box held the process. Answered when this returns, so
    // the next look does not see it again.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(box, WM_COMMAND, IDOK, 0, SMTO_NORMAL, 5000, &result);
  }
}

}  // namespace run_flow
