#pragma once

#include <curl/curl.h>

#include <filesystem>
#include <string>
#include <utility>

#include "trust/sha256_hex.h"
#include "update/file_transfer.h"
#include "update/update_checker.h"

// One attempt at fetching the regular entry `entry` into its staged file, driven by the
// caller: start, then finish with the library's result once the handle's transfer has ended.
// No more bytes than the entry announces reach the disk. With a sha256 in the entry, the
// bytes are hashed as they are written, so the file is never read a second time; a different
// digest fails the attempt, names both digests and removes the file, so that it can never be
// applied. Retrying is the caller's business.
class EntryAttempt {
 public:
  EntryAttempt(UpdateChecker& checker, const ManifestEntry& entry, std::filesystem::path staged)
      : checker_(checker), entry_(entry), staged_(std::move(staged)) {}

  bool start(const std::string& url, std::string& errorText);
  CURL* handle() const { return transfer_.handle(); }
  bool finish(CURLcode result, std::string& errorText);

 private:
  UpdateChecker& checker_;
  const ManifestEntry& entry_;
  std::filesystem::path staged_;
  Sha256Stream received_;
  FileTransfer transfer_;
};
