#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "update/installed_digests.h"
#include "update/manifest_entry_list.h"
#include "update/transfer_context.h"
#include "wire/object_limits.h"

// What the staged download (download_pending.h) reads: the run's pending list and these
// settings of its update client, nothing more. It refers to the list, and its transfer context
// to the client's proxy choice and shared connections: it lives no longer than the client.
struct StagedDownload {
  const ManifestEntryList& pending;
  std::string baseUrl;
  std::string filePlatform;  // the platform name the files and their objects are fetched under
  std::filesystem::path installDir;
  std::filesystem::path stagingDir;
  int parallelTransfers = 1;  // files fetched at once (update_checker.h)
  std::uint64_t decoderWindowBudget = kDecoderWindowBudget;
  std::uint64_t bufferedObjectBytes = kBufferedObjectBytes;
  // Made once for the whole download: time-outs, CA bundle, cancel check, proxy choice and the
  // connections its transfers share.
  TransferContext transfers;
  // The sha256 of installed files as the last update left them, read when the download starts:
  // which patches apply without hashing the installed files.
  InstalledDigests installedDigests = {};
};
