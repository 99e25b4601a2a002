#include "update/update_checker.h"

#include <utility>

#include "update/http_transfer.h"
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

TransferContext UpdateChecker::transferContext() {
  if (!transferShare_) transferShare_ = std::make_unique<TransferShare>();
  TransferContext context;
  context.caBundlePath = caBundlePath;
  context.connectTimeoutSeconds = connectTimeoutSeconds;
  context.stallTimeoutSeconds = stallTimeoutSeconds;
  context.cancelCheck = cancelCheck;
  context.proxyChoice = &proxyChoice;
  context.share = transferShare_.get();
  return context;
}

bool UpdateChecker::httpGetToString(const std::string& url, std::string& body, Failure& failure,
                                    std::size_t maxBytes) {
  return ::httpGetToString(transferContext(), url, body, failure, maxBytes);
}

bool UpdateChecker::httpGetToString(const std::string& url, std::string& body, std::string& errorText,
                                    std::size_t maxBytes) {
  Failure failure;
  if (httpGetToString(url, body, failure, maxBytes)) return true;
  errorText = failure.text;
  return false;
}

std::string UpdateChecker::filePlatform() const {
  return candidateRelease.empty() ? platform : candidatePlatformOf(platform);
}
