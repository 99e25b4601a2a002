#include "tests/update/manifest_readings.h"

#include <cstddef>
#include <exception>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "update/manifest_elements.h"
#include "update/manifest_entry_list.h"
#include "update/manifest_fast_reader.h"
#include "update/manifest_fields.h"
#include "update/manifest_reader.h"

namespace {

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

bool sameEntries(const std::vector<ManifestEntry>& a, const std::vector<ManifestEntry>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!sameEntry(a[i], b[i])) return false;
  return true;
}

bool sameAutoRollback(const AutoRollback& a, const AutoRollback& b) {
  return a.present == b.present && a.release == b.release && a.windowSeconds == b.windowSeconds &&
         a.probationStarts == b.probationStarts && a.failedStarts == b.failedStarts;
}

bool sameRollout(const RolloutOffer& a, const RolloutOffer& b) {
  return a.present == b.present && a.release == b.release && a.share == b.share && a.salt == b.salt &&
         sameEntries(a.entries, b.entries);
}

ManifestReading readAsStream(const std::string& body, bool signedManifest) {
  ManifestReading out;
  ManifestReader reader(signedManifest);
  out.ok = reader.read(body, out.entries, out.warnings, out.errorText);
  if (out.ok) {
    out.rollout = reader.rollout();
    out.healthRelease = reader.healthRelease();
    out.autoRollback = reader.autoRollback();
  }
  return out;
}

// The fast reading takes a body only when the tree reading accepts it as it is, warnings none,
// with no element but files and links.
std::string fastReadingDisagrees(const std::string& body, bool signedManifest, const ManifestReading& tree) {
  std::string copy = body;
  ManifestEntryList fast;
  if (!readManifestFast(copy, signedManifest, fast)) return copy == body ? "" : "the fast reading changed a body it left";
  if (!tree.ok || !tree.warnings.empty() || tree.rollout.present || !tree.healthRelease.empty() ||
      tree.autoRollback.present)
    return "the fast reading took a body the tree reading refused or warned about";
  std::vector<ManifestEntry> entries;
  for (std::size_t i = 0; i < fast.size(); ++i) entries.push_back(fast[i]);
  return sameEntries(entries, tree.entries) ? "" : "the fast reading's entries differ";
}

}  // namespace

ManifestReading readManifestAsTree(const std::string& body, bool signedManifest) {
  ManifestReading out;
  // The stream's bound on nesting, at the same place in the body.
  const nlohmann::json::parser_callback_t depthBound = [](int depth, nlohmann::json::parse_event_t event,
                                                          nlohmann::json&) {
    const bool opens =
        event == nlohmann::json::parse_event_t::object_start || event == nlohmann::json::parse_event_t::array_start;
    if (opens && static_cast<std::size_t>(depth) >= kMaxManifestDepth) throw std::runtime_error(kManifestTooDeepText);
    return true;
  };
  try {
    nlohmann::json manifest = nlohmann::json::parse(body, depthBound, true, false);
    if (!manifest.is_array()) {
      out.errorText = "更新清单格式无效（非 JSON 数组）";
      return out;
    }
    ManifestElements elements(signedManifest, out.entries, out.warnings);
    for (nlohmann::json& element : manifest)
      if (element.is_object()) elements.read(element);
    out.ok = elements.finish(out.errorText);
    if (out.ok) {
      out.rollout = elements.rollout();
      out.healthRelease = elements.healthRelease();
      out.autoRollback = elements.autoRollback();
    }
  } catch (const std::exception& error) {
    out.errorText = std::string("更新清单解析失败：") + error.what();
  }
  return out;
}

std::string manifestReadersDisagree(const std::string& body, bool signedManifest, ManifestReading& tree) {
  tree = readManifestAsTree(body, signedManifest);
  const ManifestReading stream = readAsStream(body, signedManifest);
  if (tree.ok != stream.ok) return "the outcomes differ";
  if (tree.errorText != stream.errorText) return "the texts differ: " + tree.errorText + " | " + stream.errorText;
  if (tree.warnings != stream.warnings) return "the warnings differ";
  if (tree.ok && !sameEntries(tree.entries, stream.entries)) return "the entries differ";
  if (!sameRollout(tree.rollout, stream.rollout) || tree.healthRelease != stream.healthRelease ||
      !sameAutoRollback(tree.autoRollback, stream.autoRollback))
    return "the rollout, the health release or the automatic rollback differ";
  return fastReadingDisagrees(body, signedManifest, tree);
}
