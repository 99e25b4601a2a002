#include "update/manifest_entry_list.h"

#include <stdexcept>
#include <utility>

#include "update/manifest_entry_list.h"

namespace {

constexpr std::uint32_t kOwnText = 0x80000000u;

}  // namespace

struct ManifestEntryList::Rare {
  std::string link;
  std::vector<EntryObject> zst;
  std::vector<EntryObject> patches;
};

ManifestEntryList::ManifestEntryList() = default;
ManifestEntryList::~ManifestEntryList() = default;
ManifestEntryList::ManifestEntryList(ManifestEntryList&&) noexcept = default;
ManifestEntryList& ManifestEntryList::operator=(ManifestEntryList&&) noexcept = default;

ManifestEntryList::ManifestEntryList(const ManifestEntryList& other)
    : body_(other.body_), own_(other.own_), count_(0), rare_(other.rare_) {
  for (std::size_t i = 0; i < other.count_; ++i) append() = other.record(i);
}

ManifestEntryList& ManifestEntryList::operator=(const ManifestEntryList& other) {
  if (this != &other) *this = ManifestEntryList(other);
  return *this;
}

ManifestEntryList::ManifestEntryList(const std::vector<ManifestEntry>& entries) {
  for (const ManifestEntry& entry : entries) push_back(entry);
}

ManifestEntryList::ManifestEntryList(std::initializer_list<ManifestEntry> entries) {
  for (const ManifestEntry& entry : entries) push_back(entry);
}

void ManifestEntryList::clear() { *this = ManifestEntryList(); }

ManifestEntryList::Record& ManifestEntryList::append() {
  if ((count_ >> kBlockShift) == blocks_.size()) blocks_.push_back(std::make_unique<Record[]>(kBlockSize));
  Record& added = record(count_++);
  added = Record();
  return added;
}

std::string_view ManifestEntryList::text(Text t) const {
  if (t.length == 0) return {};
  const std::string& block = (t.offset & kOwnText) != 0 ? own_ : body_;
  return std::string_view(block).substr(t.offset & ~kOwnText, t.length);
}

void ManifestEntryList::adoptBody(std::string&& body) { body_ = std::move(body); }

ManifestEntryList::Text ManifestEntryList::bodyText(std::size_t offset, std::size_t length) const {
  return {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length)};
}

ManifestEntryList::Text ManifestEntryList::ownText(std::string_view text) {
  if (text.empty()) return {};
  // Offsets have 31 bits; a manifest body is bounded far below that.
  if (own_.size() + text.size() >= kOwnText) throw std::length_error("manifest entry texts too long");
  const Text added{static_cast<std::uint32_t>(own_.size()) | kOwnText, static_cast<std::uint32_t>(text.size())};
  own_.append(text);
  return added;
}

void ManifestEntryList::add(Text path, std::int64_t size, std::int64_t mtime, Text sha256, std::string_view link) {
  Record& added = append();
  added.path = path;
  added.size = size;
  added.mtime = mtime;
  added.sha256 = sha256;
  if (link.empty()) return;
  added.rare = static_cast<std::uint32_t>(rare_.size());
  rare_.push_back(Rare{std::string(link), {}, {}});
}

void ManifestEntryList::push_back(const ManifestEntry& entry) {
  const Text path = ownText(entry.path);
  const Text sha256 = ownText(entry.sha256);
  add(path, entry.size, entry.mtime, sha256, entry.link);
  if (!entry.zst.empty() || !entry.patches.empty()) setObjects(entry.zst, entry.patches);
}

void ManifestEntryList::setObjects(std::vector<EntryObject> zst, std::vector<EntryObject> patches) {
  Record& added = record(count_ - 1);
  if (added.rare == kNone) {
    added.rare = static_cast<std::uint32_t>(rare_.size());
    rare_.emplace_back();
  }
  rare_[added.rare].zst = std::move(zst);
  rare_[added.rare].patches = std::move(patches);
}

std::string_view ManifestEntryList::link(std::size_t index) const {
  const std::uint32_t rare = record(index).rare;
  return rare == kNone ? std::string_view() : std::string_view(rare_[rare].link);
}

ManifestEntry ManifestEntryList::operator[](std::size_t index) const {
  const Record& from = record(index);
  ManifestEntry entry{std::string(text(from.path)), from.size, from.mtime, {}, std::string(text(from.sha256))};
  if (from.rare != kNone) {
    entry.link = rare_[from.rare].link;
    entry.zst = rare_[from.rare].zst;
    entry.patches = rare_[from.rare].patches;
  }
  return entry;
}

ManifestEntry ManifestEntryList::const_iterator::operator*() const { return (*list_)[index_]; }

void ManifestEntryList::keepFlagged(const std::vector<bool>& keep) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    if (!keep[i]) continue;
    if (kept != i) record(kept) = record(i);
    ++kept;
  }
  count_ = kept;
  blocks_.resize((count_ + kBlockSize - 1) >> kBlockShift);
  blocks_.shrink_to_fit();
  releaseBody();
}

// The texts left in the body are copied when they take at most a quarter of it: a few
// pending files of a large manifest then no longer hold the whole body during the download.
void ManifestEntryList::releaseBody() {
  if (body_.empty()) return;
  std::size_t used = 0;
  const auto inBody = [](Text t) { return t.length != 0 && (t.offset & kOwnText) == 0; };
  for (std::size_t i = 0; i < count_; ++i) {
    const Record& r = record(i);
    used += (inBody(r.path) ? r.path.length : 0) + (inBody(r.sha256) ? r.sha256.length : 0);
  }
  if (used > body_.size() / 4) return;
  own_.reserve(own_.size() + used);
  for (std::size_t i = 0; i < count_; ++i) {
    Record& r = record(i);
    if (inBody(r.path)) r.path = ownText(text(r.path));
    if (inBody(r.sha256)) r.sha256 = ownText(text(r.sha256));
  }
  std::string().swap(body_);
}
