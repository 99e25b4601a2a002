// A manifest body from the network through the update check: parsing, classification against
// a small installation in a temporary folder, and the writing of update.log. The streaming
// reading of the body is also set against a reading through a tree of the whole document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "names/windows_names.h"
#include "platform/filesystem.h"
#include "tests/support/temp_dir.h"
#include "update/manifest_fast_reader.h"
#include "update/manifest_fields.h"
#include "update/manifest_hash_field.h"
#include "update/manifest_object_fields.h"
#include "update/manifest_reader.h"
#include "update/update_checker.h"

namespace {

// The seeds name these files with these sizes and times, so the fuzzer reaches every verdict.
constexpr std::int64_t kInstalledTime = 1700000000;

const std::filesystem::path& installation() {
  static testing_support::TempDir dir;
  static const bool filled = [] {
    platform::createDirectories(dir / "bin");
    testing_support::writeFile(dir / "Vardel.exe", "hello");
    testing_support::writeFile(dir / "Kestrun.exe", "launcher");
    testing_support::writeFile(dir / "bin/lib.dll", "abc");
    platform::createFileSymlink("lib.dll", dir / "bin/link");
    platform::createFileSymlink("missing", dir / "dangling");
    for (const char* file : {"Vardel.exe", "Kestrun.exe", "bin/lib.dll"})
      platform::setLastWriteFileTime(dir / file, platform::unixSecondsToFileTime(kInstalledTime));
    return true;
  }();
  (void)filled;
  return dir.path();
}

struct Reading {
  bool ok = false;
  std::vector<ManifestEntry> entries;
  std::vector<std::string> warnings;
  std::string errorText;
};

std::string treePathField(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  std::string text = found == object.end() ? std::string() : found->get<std::string>();
  for (char& c : text) c = c == '\\' ? '/' : c;
  return text;
}

bool failed(Reading& out, std::string text) {
  out.errorText = std::move(text);
  return false;
}

// The check's reading before it streamed: a tree of the whole body, then each object.
bool treeRead(const std::string& body, bool signedManifest, Reading& out) {
  const nlohmann::json manifest = nlohmann::json::parse(body, nullptr, true, false);
  if (!manifest.is_array()) return failed(out, "更新清单格式无效（非 JSON 数组）");
  for (const nlohmann::json& element : manifest) {
    if (!element.is_object()) continue;
    ManifestEntry entry;
    entry.path = treePathField(element, "path");
    entry.link = treePathField(element, "link");
    entry.size = readIntegerField(element, "size");
    entry.mtime = readIntegerField(element, "mtime");
    if (entry.path.empty()) continue;
    if (!readSha256Field(element, entry.sha256)) return failed(out, "更新清单中的 sha256 无效：" + names::printableName(entry.path));
    if (entry.mtime > platform::kMaxUnixSecondsAsFileTime) return failed(out, "更新清单中的修改时间无效：" + names::printableName(entry.path));
    readObjectFields(element, entry, out.warnings);
    const bool file = entry.link.empty();
    if (signedManifest && file && entry.sha256.empty()) return failed(out, "已签名的更新清单缺少 sha256：" + names::printableName(entry.path));
    if (signedManifest && file && entry.size < 0) return failed(out, "更新清单中的文件大小无效：" + names::printableName(entry.path));
    out.entries.push_back(std::move(entry));
  }
  return true;
}

bool sameObjects(const std::vector<EntryObject>& a, const std::vector<EntryObject>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].size != b[i].size || a[i].sha256 != b[i].sha256 || a[i].fromSha256 != b[i].fromSha256) return false;
  return true;
}

bool sameEntry(const ManifestEntry& a, const ManifestEntry& b) {
  return a.path == b.path && a.link == b.link && a.size == b.size && a.mtime == b.mtime && a.sha256 == b.sha256 &&
         sameObjects(a.zst, b.zst) && sameObjects(a.patches, b.patches);
}

// The fast reading takes a body only when the tree reading accepts it as it is, warnings none.
void compareFastReading(const std::string& body, bool signedManifest, const Reading& tree) {
  std::string copy = body;
  ManifestEntryList fast;
  if (!readManifestFast(copy, signedManifest, fast)) return;
  if (!tree.ok || !tree.warnings.empty() || fast.size() != tree.entries.size()) std::abort();
  for (std::size_t i = 0; i < fast.size(); ++i)
    if (!sameEntry(fast[i], tree.entries[i])) std::abort();
}

// Both readings must agree on the outcome, the text, the warnings and every entry.
void compareReadings(const std::string& body, bool signedManifest) {
  Reading tree, stream;
  try {
    tree.ok = treeRead(body, signedManifest, tree);
  } catch (const std::exception& error) {
    tree.errorText = std::string("更新清单解析失败：") + error.what();
  }
  stream.ok = ManifestReader(signedManifest).read(body, stream.entries, stream.warnings, stream.errorText);
  if (tree.ok != stream.ok || tree.errorText != stream.errorText || tree.warnings != stream.warnings) std::abort();
  compareFastReading(body, signedManifest, tree);
  if (!tree.ok) return;
  if (tree.entries.size() != stream.entries.size()) std::abort();
  for (std::size_t i = 0; i < tree.entries.size(); ++i)
    if (!sameEntry(tree.entries[i], stream.entries[i])) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& dir = installation();
  const std::string body(reinterpret_cast<const char*>(data), size);
  if (!body.empty()) {
    compareReadings(body, false);
    compareReadings(body, true);
  }
  UpdateChecker checker("http://127.0.0.1:1", "windows", dir, dir / "update_staging");
  checker.lockedPatterns = {"Kestrun.exe", "vcruntime140*", "ucrtbase*"};
  checker.forbiddenPatterns = {"forbidden.dat"};
  platform::removeItem(dir / "update.log");

  std::string errorText;
  const bool checked = checker.checkManifestBody(body, errorText);
  const std::string report = checked ? testing_support::readFile(dir / "update.log") : std::string();
  // A successful check leaves its report with the pending count; a failed one leaves none.
  const std::string counted = "待更新 " + std::to_string(checker.pending.size()) + " 项";
  if (checked && report.find(counted) == std::string::npos) std::abort();
  platform::ItemKind kind = platform::ItemKind::Missing;
  if (!checked && (errorText.rfind("更新清单", 0) != 0 || platform::queryItemKind(dir / "update.log", false, kind) ||
                   kind != platform::ItemKind::Missing))
    std::abort();
  for (const ManifestEntry& entry : checker.pending)
    if (entry.path.empty() || entry.path.find('\\') != std::string::npos) std::abort();
  return 0;
}
