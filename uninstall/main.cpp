// KestrunRemove --installation DIR [--wait-seconds N]: the careful part of uninstalling, run
// by the installer's uninstaller before it removes its own files. Exit codes: uninstall/removal_run.h.
#include <charconv>
#include <iostream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/text.h"
#include "uninstall/removal_run.h"

namespace {

bool parseSeconds(const std::string& text, std::chrono::seconds& seconds) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > 86400) return false;
  seconds = std::chrono::seconds(value);
  return true;
}

bool parseArguments(const std::vector<platform::NativeString>& arguments, RemovalSettings& settings) {
  bool haveDir = false;
  for (std::size_t i = 0; i + 1 < arguments.size(); i += 2) {
    const std::string option = platform::toUtf8(arguments[i]);
    if (option == "--installation" && !haveDir) {
      settings.installDir = std::filesystem::path(arguments[i + 1]);
      haveDir = !settings.installDir.empty();
    } else if (option != "--wait-seconds" || !parseSeconds(platform::toUtf8(arguments[i + 1]), settings.lockWait)) {
      return false;
    }
  }
  return haveDir && arguments.size() % 2 == 0;
}

}  // namespace

int main(int argc, char** argv) {
  RemovalSettings settings;
  if (!parseArguments(platform::launcherArguments(argc, argv), settings)) {
    std::cout << "用法：KestrunRemove --installation 目录 [--wait-seconds 秒数]" << std::endl;
    return static_cast<int>(RemovalExit::NotInstallation);
  }
  const RemovalExit result = removeInstallation(settings, std::cout);
  std::cout.flush();
  return static_cast<int>(result);
}
