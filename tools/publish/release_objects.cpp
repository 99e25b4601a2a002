#include "tools/publish/release_objects.h"

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>
#include <zstd.h>

#include "platform/file_mapping.h"
#include "tools/publish/site_layout.h"
#include "trust/sha256_hex.h"
#include "wire/object_limits.h"

namespace publish {

namespace {

using release_manifest::ReleaseEntry;
using release_manifest::ReleaseObject;

constexpr int kCompressionLevel = 19;
// A file above this is compressed for speed rather than for the last few percent: level 19
// takes minutes per hundred MiB here. Its patches find the old file's far parts through
// long-distance matching, which makes the changes, not the file, decide their size.
constexpr std::uint64_t kLargeFileBytes = std::uint64_t{32} << 20;
constexpr int kLargeCompressionLevel = 9;

// The bytes of a file, mapped rather than read into the heap.
struct FileBytes {
  platform::FileMapping mapping;
  std::string_view view() const { return {reinterpret_cast<const char*>(mapping.data()), mapping.size()}; }
};

bool mapFile(const fs::path& file, FileBytes& bytes, std::string& error) {
  if (const std::error_code mapping = bytes.mapping.open(file)) {
    error = "cannot read " + file.string() + ": " + mapping.message();
    return false;
  }
  return true;
}

struct CompressionContext {
  struct Free {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
  };
  std::unique_ptr<ZSTD_CCtx, Free> context{ZSTD_createCCtx()};
};

// One zstd frame of `data`; with a prefix, a patch that needs it to be decoded.
bool compress(std::string_view data, const std::string_view* prefix, std::string& frame, std::string& error) {
  CompressionContext owner;
  ZSTD_CCtx* context = owner.context.get();
  if (context == nullptr) {
    error = "the compression library cannot start";
    return false;
  }
  const bool large = data.size() > kLargeFileBytes || (prefix != nullptr && prefix->size() > kLargeFileBytes);
  std::size_t result =
      ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, large ? kLargeCompressionLevel : kCompressionLevel);
  if (!ZSTD_isError(result)) result = ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  if (prefix != nullptr && !ZSTD_isError(result)) {
    // The window spans the old file and the new one, so every part of the old file can be
    // referred to from anywhere in the new one.
    int windowLog = 10;  // the smallest window zstd has
    while (windowLog < kMaxObjectWindowLog && (std::uint64_t{1} << windowLog) < prefix->size() + data.size()) {
      ++windowLog;
    }
    result = ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
    if (large && !ZSTD_isError(result)) result = ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1);
    if (!ZSTD_isError(result)) result = ZSTD_CCtx_refPrefix(context, prefix->data(), prefix->size());
  }
  // Not zero-filled: only the pages the frame takes are ever touched.
  const std::size_t bound = ZSTD_compressBound(data.size());
  std::unique_ptr<char[]> buffer;
  if (!ZSTD_isError(result)) {
    buffer.reset(new char[bound]);
    result = ZSTD_compress2(context, buffer.get(), bound, data.data(), data.size());
  }
  if (ZSTD_isError(result)) {
    error = std::string("compression failed: ") + ZSTD_getErrorName(result);
    return false;
  }
  frame.assign(buffer.get(), result);
  return true;
}

bool readWhole(const fs::path& file, std::string& bytes, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad() || !in.is_open()) {
    error = "cannot read " + file.string();
    return false;
  }
  return true;
}

bool worthARequest(std::uint64_t objectSize, std::uint64_t alternative) {
  return objectSize + kMinObjectSaving <= alternative && objectSize * 10 <= alternative * 9;
}

// What a kept release offers: its files' digests and the objects it made already.
struct BaseRelease {
  fs::path release;
  std::map<std::string, std::string> digests;  // path -> sha256, from its manifest
  std::map<std::string, ReleaseObject> compressed;                              // file sha256 -> copy
  std::map<std::pair<std::string, std::string>, ReleaseObject> patches;        // (from, to) -> patch
};

ReleaseObject objectOf(const nlohmann::json& item) {
  ReleaseObject object;
  object.size = item.at("size").get<std::uint64_t>();
  object.sha256 = item.at("sha256").get<std::string>();
  if (item.contains("from_sha256")) object.fromSha256 = item.at("from_sha256").get<std::string>();
  return object;
}

// A manifest that cannot be read offers nothing: its files are hashed instead.
BaseRelease readBase(const fs::path& release, const std::string& platform) {
  BaseRelease base;
  base.release = release;
  std::string text;
  std::string ignored;
  if (!readWhole(manifestFile(release, platform), text, ignored)) return base;
  try {
    for (const nlohmann::json& item : nlohmann::json::parse(text)) {
      if (!item.contains("sha256")) continue;
      const std::string digest = item.at("sha256").get<std::string>();
      base.digests[item.at("path").get<std::string>()] = digest;
      if (item.contains("zst")) base.compressed[digest] = objectOf(item.at("zst"));
      if (item.contains("patches")) {
        for (const nlohmann::json& patch : item.at("patches")) {
          const ReleaseObject object = objectOf(patch);
          base.patches[{object.fromSha256, digest}] = object;
        }
      }
    }
  } catch (const std::exception&) {
    base.digests.clear();
    base.compressed.clear();
    base.patches.clear();
  }
  return base;
}

fs::path objectFile(const fs::path& dir, const std::string& sha256) { return dir / (sha256 + ".zst"); }

// Puts an object made for a kept release into the new one; false when it is not there. The
// object is hashed first: a damaged one (its bytes no longer hash to its name) would otherwise
// be signed into the new manifest and fail every launcher's check; it is left where it is,
// named in `damaged`, and the caller makes the object again.
bool reuse(const std::vector<BaseRelease>& bases, const std::string& platform, const ReleaseObject& object,
           const fs::path& dir, std::vector<std::string>& damaged) {
  const fs::path target = objectFile(dir, object.sha256);
  std::error_code ec;
  if (fs::exists(target, ec)) return true;
  for (const BaseRelease& base : bases) {
    const fs::path source = objectFile(objectsDir(base.release, platform), object.sha256);
    if (!fs::is_regular_file(fs::symlink_status(source, ec)) || fs::file_size(source, ec) != object.size) continue;
    std::string digest;
    std::string ignored;
    if (!hashFile(source, digest, ignored) || digest != object.sha256) {
      damaged.push_back(source.string());
      continue;
    }
    fs::create_hard_link(source, target, ec);
    if (ec) fs::copy_file(source, target, ec);
    if (!ec) return true;
  }
  return false;
}

bool store(const fs::path& dir, const std::string& frame, ReleaseObject& object, std::string& error) {
  object.size = frame.size();
  object.sha256 = sha256Hex(frame);
  const fs::path file = objectFile(dir, object.sha256);
  std::error_code ec;
  if (fs::exists(file, ec)) return true;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << frame;
  out.close();
  if (out) return true;
  error = "cannot write " + file.string();
  return false;
}

}  // namespace

fs::path objectsDir(const fs::path& release, const std::string& platform) {
  return release / (platform + ".objects");
}

bool hashFile(const fs::path& file, std::string& digest, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  std::string buffer(1 << 16, '\0');
  Sha256Stream stream;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    stream.update(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad() || !in.eof()) {
    error = "cannot read " + file.string();
    return false;
  }
  digest = stream.finishHex();
  return true;
}

bool writeReleaseObjects(const fs::path& release, const std::string& platform, const std::vector<fs::path>& bases,
                         const std::string& basePlatform, std::vector<ReleaseEntry>& entries, ObjectCounts& counts,
                         std::string& error) {
  const fs::path dir = objectsDir(release, platform);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + dir.string() + ": " + ec.message();
    return false;
  }
  std::vector<BaseRelease> kept;
  for (const fs::path& base : bases) kept.push_back(readBase(base, basePlatform));

  const fs::path tree = platformTree(release, platform);
  for (ReleaseEntry& entry : entries) {
    if (entry.isLink() || entry.size == 0) continue;
    FileBytes data;
    bool loaded = false;
    const auto load = [&] { return loaded || (loaded = mapFile(tree / entry.path, data, error)); };

    std::uint64_t best = entry.size;
    ReleaseObject copy;
    const auto known = [&]() -> const ReleaseObject* {
      for (const BaseRelease& base : kept) {
        if (const auto found = base.compressed.find(entry.sha256); found != base.compressed.end()) return &found->second;
      }
      return nullptr;
    }();
    if (known != nullptr && reuse(kept, basePlatform, *known, dir, counts.damaged)) {
      copy = *known;
    } else {
      std::string frame;
      if (!load() || !compress(data.view(), nullptr, frame, error)) return false;
      if (worthARequest(frame.size(), entry.size)) {
        if (!store(dir, frame, copy, error)) return false;
        ++counts.made;
      }
    }
    if (!copy.sha256.empty()) {
      entry.zst.push_back(copy);
      best = copy.size;
      ++counts.compressed;
    }

    std::set<std::string> patchedFrom;
    for (const BaseRelease& base : kept) {
      std::string from;
      const fs::path old = platformTree(base.release, basePlatform) / entry.path;
      if (!fs::is_regular_file(fs::symlink_status(old, ec))) continue;
      const auto size = fs::file_size(old, ec);
      if (ec || size == 0) continue;
      if (const auto digest = base.digests.find(entry.path); digest != base.digests.end()) {
        from = digest->second;
      } else if (!hashFile(old, from, error)) {
        return false;
      }
      if (from == entry.sha256 || !patchedFrom.insert(from).second) continue;

      ReleaseObject patch;
      for (const BaseRelease& other : kept) {
        const auto found = other.patches.find({from, entry.sha256});
        if (found != other.patches.end() && reuse(kept, basePlatform, found->second, dir, counts.damaged)) {
          patch = found->second;
          break;
        }
      }
      if (patch.sha256.empty()) {
        FileBytes previous;
        std::string frame;
        if (!load() || !mapFile(old, previous, error)) return false;
        const std::string_view prefix = previous.view();
        if (!compress(data.view(), &prefix, frame, error)) return false;
        if (!worthARequest(frame.size(), best)) continue;
        if (!store(dir, frame, patch, error)) return false;
        ++counts.made;
      }
      patch.fromSha256 = from;
      entry.patches.push_back(patch);
      ++counts.patches;
    }
  }
  // A release without objects has no folder for them (removing a folder that holds any fails).
  fs::remove(dir, ec);
  return true;
}

}  // namespace publish
