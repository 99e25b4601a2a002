#include "update/update_checker.h"

#include <utility>

UpdateChecker::UpdateChecker(std::string baseUrlValue, std::string platformValue,
                             std::filesystem::path installDirValue, std::filesystem::path stagingDirValue)
    : baseUrl(std::move(baseUrlValue)),
      platform(std::move(platformValue)),
      installDir(std::move(installDirValue)),
      stagingDir(std::move(stagingDirValue)) {
  while (!baseUrl.empty() && baseUrl.back() == '/') baseUrl.pop_back();
}
