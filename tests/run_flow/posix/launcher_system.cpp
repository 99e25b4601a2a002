#include <cstdlib>

#include "tests/run_flow/launcher_system.h"

namespace run_flow {

std::optional<std::string> environmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void setEnvironmentVariable(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

std::vector<std::pair<std::string, std::optional<std::string>>> launcherEnvironment(const std::filesystem::path& home) {
  // Without a display every warning lands on standard error; the URL scheme registration
  // writes only below the private home.
  return {{"DISPLAY", std::nullopt},
          {"HOME", home.string()},
          {"XDG_DATA_HOME", (home / "data").string()},
          {"XDG_CONFIG_HOME", (home / "config").string()},
          {"LANG", "C"},
          {"LC_ALL", "C"}};
}

void answerWarningBoxes(std::uint32_t, const std::function<void(const std::string&)>&) {}

}  // namespace run_flow
