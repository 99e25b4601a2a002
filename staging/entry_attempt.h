#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "trust/sha256_hex.h"
#include "update/file_transfer.h"
#include "update/object_fetch.h"
#include "update/manifest_entry.h"
#include "update/transfer_failure.h"

struct StagedDownload;

// One attempt at fetching the regular entry `entry` into its staged file, driven by the
// caller: start, run transfer() in a TransferGroup, then finish once the group says it ended.
// No more bytes than the entry announces reach the disk. With a sha256 in the entry, the
// bytes are hashed as they are written, so the file is never read a second time; a different
// digest fails the attempt, names both digests and removes the file, so that it can never be
// applied. Retrying is the caller's business.
//
// With mayUseObject, the attempt first takes the cheapest way the entry offers (a patch
// against the installed file, or the compressed copy; object_fetch.h) and decodes it into the
// staged file as it arrives. Such an attempt fails like any other, and objectUse() says what
// it fetched, so that the caller falls back to the whole file instead of retrying.
class EntryAttempt {
 public:
  // What an attempt fetched instead of the whole file.
  struct ObjectUse {
    const char* kind = nullptr;  // "补丁" or "压缩副本"; null: the whole file
    std::int64_t size = 0;
  };

  EntryAttempt(StagedDownload& download, const ManifestEntry& entry, std::filesystem::path staged,
               bool mayUseObject = false)
      : download_(download), entry_(entry), staged_(std::move(staged)), mayUseObject_(mayUseObject) {}

  // A whole-file attempt goes on from the part already staged, when there is one, asking for
  // the rest only while the server's file still has `validator` (its ETag or Last-Modified).
  void resumeWith(std::string validator) { resumeValidator_ = std::move(validator); }
  // Picks the way to fetch (with mayUseObject); start() does it when it has not been done.
  void choose();
  // The decoder memory that the chosen object may take (object_limits.h); 0 for the whole file.
  std::uint64_t windowShare() const;
  bool start(const std::string& url, std::string& errorText);
  FileTransfer& transfer() { return transfer_; }
  bool finish(Failure& failure);
  ObjectUse objectUse() const;
  // After finish: the offset the server sent the rest from, or 0; and the validator of the
  // bytes now staged (empty when none came, or the server gave none).
  std::uint64_t resumedFrom() const { return transfer_.resumed() ? resumePoint_.offset : 0; }
  const std::string& validator() const { return transfer_.validator(); }
  // Whether the whole file's transfer got as far as a body, which replaced what was staged (an
  // error page does not).
  bool bodyAccepted() const { return transfer_.bodyAccepted(); }

 private:
  StagedDownload& download_;
  const ManifestEntry& entry_;
  std::filesystem::path staged_;
  bool mayUseObject_;
  ResumePoint stagedPart() const;

  bool chosen_ = false;
  std::string resumeValidator_;
  ResumePoint resumePoint_;
  Sha256Stream received_;
  FetchChoice choice_;
  platform::FileMapping base_;  // the installed file a patch applies to
  DecodedFileWriter decoded_;
  FileTransfer transfer_;  // last: the transfer writes into the members above
};
