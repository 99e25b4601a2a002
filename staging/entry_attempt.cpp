#include "staging/entry_attempt.h"

#include <cstdint>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/paths.h"
#include "staging/staged_download.h"

namespace {

// Whether the staged copy is the entry's file as far as the manifest describes it: a body cut
// short (a server that closes early without announcing a length) still ends with success.
// An entry without a size (negative) is taken as it came.
bool stagedFileMatches(const ManifestEntry& entry, const std::filesystem::path& staged, std::string& errorText) {
  if (entry.size < 0) return true;
  std::uint64_t size = 0;
  if (const std::error_code error = platform::fileSize(staged, size)) {
    errorText = "无法读取暂存文件大小：" + platform::errorCodeText(error);
    return false;
  }
  if (size == static_cast<std::uint64_t>(entry.size)) return true;
  errorText = "文件大小不符：清单=" + std::to_string(entry.size) + "，实际=" + std::to_string(size);
  return false;
}

}  // namespace

void EntryAttempt::choose() {
  if (chosen_) return;
  chosen_ = true;
  if (mayUseObject_) {
    choice_ = chooseFetch(entry_, manifestPathToLocal(download_.installDir, entry_.path), download_.installedDigests, base_);
  }
}

std::uint64_t EntryAttempt::windowShare() const {
  if (choice_.kind == FetchChoice::Kind::Whole) return 0;
  const std::size_t prefix = choice_.kind == FetchChoice::Kind::Patch ? base_.size() : 0;
  return decoderMemory(static_cast<std::uint64_t>(entry_.size), prefix, download_.bufferedObjectBytes);
}

bool EntryAttempt::start(const std::string& url, std::string& errorText) {
  choose();
  if (choice_.kind != FetchChoice::Kind::Whole) {
    const bool patch = choice_.kind == FetchChoice::Kind::Patch;
    return decoded_.open(staged_, entry_, choice_.object, patch ? &base_ : nullptr,
                         download_.bufferedObjectBytes, errorText) &&
           transfer_.prepare(download_.transfers, objectUrl(download_.baseUrl, download_.filePlatform, choice_.object),
                             [this](const char* data, std::size_t size) { return decoded_.write(data, size); },
                             errorText);
  }
  Sha256Stream* hash = entry_.sha256.empty() ? nullptr : &received_;
  resumePoint_ = stagedPart();
  return transfer_.prepare(download_.transfers, url, staged_, hash, entry_.size, errorText, resumePoint_);
}

ResumePoint EntryAttempt::stagedPart() const {
  platform::ItemStatus status;
  if (resumeValidator_.empty() || platform::queryItemStatus(staged_, false, status)) return {};
  // A whole file, or more, has nothing left to ask for: it is fetched again.
  const bool isPart = status.kind == platform::ItemKind::Regular && status.size > 0 &&
                      (entry_.size < 0 || status.size < static_cast<std::uint64_t>(entry_.size));
  if (!isPart) return {};
  return {status.size, resumeValidator_};
}

EntryAttempt::ObjectUse EntryAttempt::objectUse() const {
  switch (choice_.kind) {
    case FetchChoice::Kind::Patch: return {"补丁", choice_.object.size};
    case FetchChoice::Kind::Compressed: return {"压缩副本", choice_.object.size};
    case FetchChoice::Kind::Whole: break;
  }
  return {};
}

bool EntryAttempt::finish(Failure& failure) {
  if (choice_.kind != FetchChoice::Kind::Whole) {
    Failure transfer;
    const bool transferred = transfer_.finish(transfer);
    base_.close();
    std::string decodeError;
    // Checks the object and the result, and removes the staged file on any failure.
    const bool decoded = decoded_.finish(decodeError);
    if (transferred && decoded) return true;
    if (!transferred) {
      platform::removeItem(staged_);
      // The decoder's reason explains a transfer it stopped, a proxy's refusal included (its page
      // reaches the decoder); a status or a cancel speaks for itself.
      const bool stoppedByDecoder = !decoded_.failure().empty() && transfer.kind != FailureKind::status &&
                                    !transfer.cancelled();
      failure = stoppedByDecoder ? Failure(FailureKind::mismatch, decoded_.failure()) : transfer;
    } else {
      failure = {FailureKind::mismatch, decodeError};
    }
    return false;
  }
  if (!transfer_.finish(failure)) {
    if (transfer_.partRefused()) platform::removeItem(staged_);
    return false;
  }
  std::string& errorText = failure.text;
  failure.kind = FailureKind::mismatch;
  if (!entry_.sha256.empty()) {
    const std::string digest = received_.finishHex();
    if (digest != entry_.sha256) {
      // Whatever goes wrong afterwards, these bytes must not be found in the staging directory.
      platform::removeItem(staged_);
      errorText = "sha256 不一致：应为 " + entry_.sha256 + "，收到 " + digest;
      return false;
    }
  }
  return stagedFileMatches(entry_, staged_, errorText);
}
