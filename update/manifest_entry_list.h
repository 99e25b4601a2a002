#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "update/manifest_entry.h"

// Manifest entries kept compactly, for a check of hundreds of thousands of files: one record
// of fixed size per entry, and the texts in one block. That block is the manifest body
// itself wherever a text needed no decoding, and texts of its own otherwise; a link and the
// offered objects, rare, are kept apart. Read by index; an entry is made whole (a
// ManifestEntry) only when asked for, so the list also serves where a vector of entries did.
class ManifestEntryList {
 public:
  // A text in the body (top bit of offset clear) or in the list's own texts (set).
  struct Text {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
  };

  ManifestEntryList();
  ~ManifestEntryList();
  ManifestEntryList(ManifestEntryList&&) noexcept;
  ManifestEntryList& operator=(ManifestEntryList&&) noexcept;
  ManifestEntryList(const ManifestEntryList& other);
  ManifestEntryList& operator=(const ManifestEntryList& other);
  // Not explicit: the apply step and the tools take the entries they were given.
  ManifestEntryList(const std::vector<ManifestEntry>& entries);
  ManifestEntryList(std::initializer_list<ManifestEntry> entries);

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  void clear();
  void push_back(const ManifestEntry& entry);
  // The whole entry, made on each call.
  ManifestEntry operator[](std::size_t index) const;

  std::string_view path(std::size_t index) const { return text(record(index).path); }
  std::int64_t fileSize(std::size_t index) const { return record(index).size; }
  std::int64_t mtime(std::size_t index) const { return record(index).mtime; }
  std::string_view link(std::size_t index) const;
  bool isLink(std::size_t index) const { return !link(index).empty(); }

  // For the manifest reader: the body the texts refer to, then one record per entry.
  // sha256 is the lower-case digest or empty; link, when not empty, is kept apart.
  void adoptBody(std::string&& body);
  Text bodyText(std::size_t offset, std::size_t length) const;
  Text ownText(std::string_view text);
  void add(Text path, std::int64_t size, std::int64_t mtime, Text sha256, std::string_view link);
  // The compressed copy and patches offered for the entry added last.
  void setObjects(std::vector<EntryObject> zst, std::vector<EntryObject> patches);

  // Keeps the entries whose flag is set, in their order. When what is left refers to a small
  // part of the body, its texts are copied and the body is given back.
  void keepFlagged(const std::vector<bool>& keep);

  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = ManifestEntry;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ManifestEntry;
    const_iterator(const ManifestEntryList* list, std::size_t index) : list_(list), index_(index) {}
    ManifestEntry operator*() const;
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }
    bool operator!=(const const_iterator& other) const { return index_ != other.index_; }

   private:
    const ManifestEntryList* list_;
    std::size_t index_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, count_}; }

 private:
  struct Record {
    Text path;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    Text sha256;
    std::uint32_t rare = kNone;  // index of the entry's link and objects
  };
  struct Rare;
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  // Records live in blocks of their own, so that a growing list never copies them.
  static constexpr std::size_t kBlockShift = 12;
  static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockShift;

  const Record& record(std::size_t index) const { return blocks_[index >> kBlockShift][index & (kBlockSize - 1)]; }
  Record& record(std::size_t index) { return blocks_[index >> kBlockShift][index & (kBlockSize - 1)]; }
  std::string_view text(Text t) const;
  Record& append();
  void releaseBody();

  std::string body_;
  std::string own_;
  std::vector<std::unique_ptr<Record[]>> blocks_;
  std::size_t count_ = 0;
  std::vector<Rare> rare_;
};
