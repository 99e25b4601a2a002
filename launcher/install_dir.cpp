#include <system_error>

#include "launcher/run_phases.h"
#include "platform/environment.h"

std::filesystem::path findInstallDir() {
  std::filesystem::path ownPath;
  if (platform::ownExecutablePath(ownPath)) return ownPath.parent_path();
  std::error_code ignored;
  return std::filesystem::current_path(ignored);
}
