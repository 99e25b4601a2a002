#include "update/object_fetch.h"

#include <algorithm>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "wire/object_limits.h"
#include "wire/server_endpoints.h"

namespace {

// The installed file's digest, read through its mapping a step at a time, so that hashing a
// large file holds no more of it in memory than a step.
std::string mappedDigest(const platform::FileMapping& file) {
  Sha256Stream hash;
  for (std::size_t at = 0; at < file.size(); at += kResidentStep) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kResidentStep, file.size() - at));
    hash.update(file.data() + at, count);
    platform::dropResidentPages(file.data() + at, count);
  }
  return hash.finishHex();
}

}  // namespace

FetchChoice chooseFetch(const ManifestEntry& entry, const std::filesystem::path& installed,
                        const InstalledDigests& digests, platform::FileMapping& base) {
  FetchChoice choice;
  if (entry.sha256.empty() || !entry.link.empty() || entry.size <= 0) return choice;
  if (!entry.patches.empty()) {
    // Hashing a large file takes longer than fetching its patch: the record saves it.
    std::string installedDigest = digests.digestOf(entry.path, installed);
    if (installedDigest.empty() && !base.open(installed) && base.size() > 0) installedDigest = mappedDigest(base);
    for (const EntryObject& patch : entry.patches) {
      if (installedDigest.empty() || patch.fromSha256 != installedDigest) continue;
      if (!base.data() && (base.open(installed) || base.size() == 0)) break;
      choice.kind = FetchChoice::Kind::Patch;
      choice.object = patch;
      return choice;
    }
  }
  base.close();
  if (!entry.zst.empty()) {
    choice.kind = FetchChoice::Kind::Compressed;
    choice.object = entry.zst.front();
  }
  return choice;
}

std::string objectUrl(const std::string& baseUrl, const std::string& platform, const EntryObject& object) {
  return baseUrl + kObjectEndpoint + "/" + platform + "/" + object.sha256 + ".zst";
}

bool DecodedFileWriter::open(const std::filesystem::path& destination, const ManifestEntry& entry,
                             const EntryObject& object, const platform::FileMapping* base,
                             std::uint64_t bufferedObjectBytes, std::string& error) {
  trailing_.reset();
  destination_ = destination;
  entry_ = &entry;
  object_ = &object;
  base_ = base;
  const unsigned char* prefix = base != nullptr ? base->data() : nullptr;
  const std::size_t prefixSize = base != nullptr ? base->size() : 0;
  const auto size = static_cast<std::uint64_t>(entry.size);
  if (size > bufferedObjectBytes) {
    if (const std::error_code opening = output_.open(destination, size, kKeptFreeDiskBytes)) {
      error = opening == std::errc::no_space_on_device
                  ? "磁盘空间不足，无法预留 " + std::to_string(size) + " 字节：" + platform::pathToUtf8(destination)
                  : "无法写入文件：" + platform::pathToUtf8(destination) + "（" + opening.message() + "）";
      platform::removeItem(destination);
      return false;
    }
    prepareNextStep(0);
    trailing_ = std::make_unique<TrailingDigest>(output_.data(), TrailingDigest::Buffer::FileMapping);
    return decoder_.startInto(prefix, prefixSize, output_.data(), output_.size(), error);
  }
  if (file_.open(destination, platform::FileWriter::Mode::Truncate)) {
    error = "无法写入文件：" + platform::pathToUtf8(destination);
    return false;
  }
  return decoder_.start(prefix, prefixSize, size, error);
}

bool DecodedFileWriter::take(const unsigned char* bytes, std::size_t count) {
  if (output_.data() == nullptr) {
    if (file_.write(bytes, count)) return fail("无法写入文件：" + platform::pathToUtf8(destination_));
    decoded_.update(bytes, count);
    return true;
  }
  // In place: the bytes are in the file already, and hashed from there on a thread of their own.
  const std::uint64_t produced = decoder_.produced();
  trailing_->advance(produced);
  if (produced - droppedAt_ >= kResidentStep || produced == output_.size()) {
    // All of it: matches read back into earlier output, and into any part of the old file,
    // and bring those pages back.
    platform::dropResidentPages(output_.data(), static_cast<std::size_t>(produced));
    if (base_ != nullptr) platform::dropResidentPages(base_->data(), base_->size());
    droppedAt_ = produced;
    prepareNextStep(produced);
  }
  return true;
}

// A page fault for every page that zstd writes cost a quarter of a large patch's decoding.
// The step ahead of the output is made writable at once instead; it stays within the two
// steps of memory that the decoding may hold.
void DecodedFileWriter::prepareNextStep(std::uint64_t from) {
  if (from >= output_.size()) return;
  const std::uint64_t count = std::min<std::uint64_t>(kResidentStep, output_.size() - from);
  platform::prepareForWriting(output_.data() + from, static_cast<std::size_t>(count));
}

bool DecodedFileWriter::fail(const std::string& reason) {
  if (failure_.empty()) failure_ = reason;
  return false;
}

bool DecodedFileWriter::write(const void* data, std::size_t size) {
  if (!failure_.empty()) return false;
  // An object longer than announced is cut before it is decoded any further.
  if (size > static_cast<std::uint64_t>(object_->size) - receivedBytes_) {
    return fail("对象超出清单大小：清单=" + std::to_string(object_->size));
  }
  receivedBytes_ += size;
  received_.update(data, size);
  std::string error;
  const bool fed = decoder_.feed(data, size, [this](const unsigned char* bytes, std::size_t count) {
    return take(bytes, count);
  }, error);
  return fed || fail(error);
}

bool DecodedFileWriter::finish(std::string& error) {
  const bool mapped = trailing_ != nullptr;
  const std::error_code closing = file_.close();
  std::string reason = failure_;
  if (reason.empty() && closing) reason = "无法写入文件：" + platform::pathToUtf8(destination_);
  if (reason.empty() && receivedBytes_ == static_cast<std::uint64_t>(object_->size)) {
    const std::string digest = received_.finishHex();
    if (digest != object_->sha256) reason = "对象 sha256 不一致：应为 " + object_->sha256 + "，收到 " + digest;
  } else if (reason.empty()) {
    reason = "对象大小不符：清单=" + std::to_string(object_->size) + "，实际=" + std::to_string(receivedBytes_);
  }
  if (reason.empty()) decoder_.finish(reason);
  if (reason.empty() && decoder_.produced() != static_cast<std::uint64_t>(entry_->size)) {
    reason = "文件大小不符：清单=" + std::to_string(entry_->size) + "，实际=" + std::to_string(decoder_.produced());
  }
  // A mapped result is hashed from its mapping, so before the mapping goes; a failed one not at all.
  std::string mappedDigest;
  if (mapped && reason.empty()) mappedDigest = trailing_->finishHex();
  trailing_.reset();
  output_.close();
  if (reason.empty()) {
    const std::string digest = mapped ? mappedDigest : decoded_.finishHex();
    if (digest != entry_->sha256) reason = "sha256 不一致：应为 " + entry_->sha256 + "，收到 " + digest;
  }
  if (reason.empty()) return true;
  // Whatever goes wrong afterwards, these bytes must not be found in the staging directory.
  platform::removeItem(destination_);
  error = reason;
  return false;
}
