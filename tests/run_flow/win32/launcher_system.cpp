#include <windows.h>

#include "platform/text.h"
#include "tests/run_flow/launcher_system.h"
#include "tests/support/win32/message_box.h"

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

void answerWarningBoxes(std::uint32_t processId, const std::function<void(const std::string&)>& seen) {
  // A message box is a dialog of the system's dialog class; the launcher shows no other dialog.
  HWND box = nullptr;
  while ((box = testing_support::findMessageBox(processId, box)) != nullptr) {
    const testing_support::MessageBoxText shown = testing_support::readMessageBox(box);
    seen(platform::toUtf8(shown.caption) + ": " + platform::toUtf8(shown.text));
    // Pressed only now: until then the box held the process. Answered when this returns, so
    // the next look does not see it again.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(box, WM_COMMAND, IDOK, 0, SMTO_NORMAL, 5000, &result);
  }
}

}  // namespace run_flow
