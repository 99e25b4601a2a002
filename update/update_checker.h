#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "update/auto_rollback.h"
#include "update/manifest_entry_list.h"
#include "update/manifest_limits.h"
#include "wire/object_limits.h"
#include "update/proxy_choice.h"
#include "update/transfer_context.h"
#include "update/transfer_failure.h"

class TransferShare;

// The update client of one run: server address, directories, transfer settings, the name
// patterns that protect files, and the files the check found to differ.
class UpdateChecker {
 public:
  // Trailing '/' characters of baseUrl are removed; nothing else is normalised.
  UpdateChecker(std::string baseUrl, std::string platform, std::filesystem::path installDir,
                std::filesystem::path stagingDir);
  ~UpdateChecker();
  UpdateChecker(const UpdateChecker&) = delete;
  UpdateChecker& operator=(const UpdateChecker&) = delete;

  std::string baseUrl;
  std::string platform;
  std::filesystem::path installDir;
  std::filesystem::path stagingDir;
  std::filesystem::path caBundlePath;
  std::int32_t connectTimeoutSeconds = kDefaultConnectTimeoutSeconds;
  // A transfer that moves less than 1 byte/s for this long is given up.
  long stallTimeoutSeconds = kDefaultStallTimeoutSeconds;
  // How many files the staged download (staging/download_pending.h) fetches at once; 1 fetches
  // one after another. Whatever the number, progress, retry lines and the error are those of
  // the manifest's order.
  int parallelTransfers = 1;
  // Decoder memory of all transfers together (object_limits.h), in bytes.
  std::uint64_t decoderWindowBudget = kDecoderWindowBudget;
  // Results above this size are decoded into their mapped staged file (object_limits.h).
  std::uint64_t bufferedObjectBytes = kBufferedObjectBytes;
  std::function<bool()> cancelCheck;
  std::vector<std::string> lockedPatterns;
  std::vector<std::string> forbiddenPatterns;
  // Base64 Ed25519 key that must have signed the manifest; empty: manifests are not signed.
  std::string manifestPublicKey;
  // The proxy of each request: looked up once per run and host.
  ProxyChoice proxyChoice;

  // What the check found, for the run to act on; the fields above are settings, set by the run
  // before the check. The files that differ, in the manifest's order:
  ManifestEntryList pending;
  // Set by the check when this installation is in the cohort of a candidate release the
  // manifest offers (rollout_offer.h): `pending` then holds the candidate's files.
  std::string candidateRelease;
  // Set by the check when the manifest asks for health reports: the release to report on
  // (the candidate's, when it was chosen).
  std::string healthRelease;
  // Set by the check when the manifest asks for automatic rollback (auto_rollback.h): its
  // release is the candidate's when the candidate was chosen.
  AutoRollback autoRollback;

  // The platform name that the pending files and their objects are fetched under: the
  // candidate's when one was chosen, else `platform`.
  std::string filePlatform() const;

  // What a transfer of this client reads: its time-outs, CA bundle, cancel check, proxy
  // choice and shared connections (the latter made at the first call).
  TransferContext transferContext();
  // GET into memory with this client's settings (http_transfer.h). True for any response
  // below 400; body then holds the whole body. A body above maxBytes (default: the manifest's
  // bound) ends the transfer.
  bool httpGetToString(const std::string& url, std::string& body, Failure& failure,
                       std::size_t maxBytes = kMaxManifestBytes);
  // The same where only the text is wanted (the log).
  bool httpGetToString(const std::string& url, std::string& body, std::string& errorText,
                       std::size_t maxBytes = kMaxManifestBytes);

  // Fetches the manifest, fills `pending` and rewrites update.log. False with errorText on failure.
  bool checkForUpdates(std::string& errorText);
  // The part of the check after the transfer: classifies a manifest body the same way.
  bool checkManifestBody(const std::string& body, std::string& errorText);
  // Fetches the signature of `manifest` and checks it against manifestPublicKey and the serial
  // this installation has accepted. newSerial is the release's serial when it is higher than
  // that one (to be recorded after the check), else 0. False with errorText on any failure.
  bool checkManifestSignature(const std::string& manifest, std::uint64_t& newSerial, std::string& errorText);
  // Whether the installed copy of `entry` differs; `reason` (optional) says why.
  bool entryNeedsUpdate(const ManifestEntry& entry, std::string* reason) const;

 private:
  std::unique_ptr<TransferShare> transferShare_;
};
