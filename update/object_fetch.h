#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/file_mapping.h"
#include "platform/file_writer.h"
#include "platform/output_mapping.h"
#include "trust/sha256_hex.h"
#include "trust/trailing_digest.h"
#include "update/installed_digests.h"
#include "update/object_decoder.h"
#include "update/manifest_entry.h"

// How one pending file is fetched: by a patch against the installed file, by its compressed
// copy, or whole, as always.
struct FetchChoice {
  enum class Kind { Whole, Compressed, Patch };
  Kind kind = Kind::Whole;
  EntryObject object;
};

// The cheapest way the entry offers. A patch needs the installed file to be the one it was
// made from: its digest comes from `digests` while that still holds for the file, else only an
// entry with patches has its installed file hashed. When a patch is chosen, `base` holds that
// file mapped for the decoder. Entries without a sha256 to check the result against are
// fetched whole.
FetchChoice chooseFetch(const ManifestEntry& entry, const std::filesystem::path& installed,
                        const InstalledDigests& digests, platform::FileMapping& base);

// base + "/gis/update/object/" + platform + "/" + the object's sha256 + ".zst".
std::string objectUrl(const std::string& baseUrl, const std::string& platform, const EntryObject& object);

// Takes an object's bytes as they arrive and writes the decoded file into the staged path,
// checking on the way that the object is the one the manifest names and, at the end, that
// the result is the entry's file (size and sha256). Whatever fails, the staged file is
// removed, so a bad object can never be applied. A result above `bufferedObjectBytes` is
// decoded into the staged file mapped into memory (object_limits.h), and the pages it has
// passed, of that file and of `base`, are handed back to the system every kResidentStep.
class DecodedFileWriter {
 public:
  // Creates (or truncates) the destination. `base` is the mapped old file of a patch, or null.
  bool open(const std::filesystem::path& destination, const ManifestEntry& entry, const EntryObject& object,
            const platform::FileMapping* base, std::uint64_t bufferedObjectBytes, std::string& error);
  // False stops the transfer; failure() says why.
  bool write(const void* data, std::size_t size);
  // After the last byte: true when the staged file is the entry's file. Otherwise false with
  // the reason (a failure seen by write() included) and the file removed.
  bool finish(std::string& error);
  const std::string& failure() const { return failure_; }

 private:
  bool fail(const std::string& reason);
  bool take(const unsigned char* bytes, std::size_t count);
  void prepareNextStep(std::uint64_t from);

  std::filesystem::path destination_;
  const ManifestEntry* entry_ = nullptr;
  const EntryObject* object_ = nullptr;
  platform::FileWriter file_;
  platform::OutputMapping output_;  // instead of file_, for a large result
  const platform::FileMapping* base_ = nullptr;
  std::uint64_t droppedAt_ = 0;  // how much output there was when pages were last handed back
  ObjectDecoder decoder_;
  Sha256Stream received_;
  Sha256Stream decoded_;
  std::unique_ptr<TrailingDigest> trailing_;  // instead of decoded_, for a large result; goes before output_
  std::uint64_t receivedBytes_ = 0;
  std::string failure_;
};
