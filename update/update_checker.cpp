#include "update/update_checker.h"

#include <utility>

#include "update/rollout_offer.h"
#include "update/transfer_share.h"

UpdateChecker::UpdateChecker(std::string baseUrlValue, std::string platformValue,
                             std::filesystem::path installDirValue, std::filesystem::path stagingDirValue)
    : baseUrl(std::move(baseUrlValue)),
      platform(std::move(platformValue)),
      installDir(std::move(installDirValue)),
      stagingDir(std::move(stagingDirValue)) {
  while (!baseUrl.empty() && baseUrl.back() == '/') baseUrl.pop_back();
}

UpdateChecker::~UpdateChecker() = default;

TransferShare& UpdateChecker::transferShare() {
  if (!transferShare_) transferShare_ = std::make_unique<TransferShare>();
  return *transferShare_;
}

std::string UpdateChecker::filePlatform() const {
  return candidateRelease.empty() ? platform : candidatePlatformOf(platform);
}
