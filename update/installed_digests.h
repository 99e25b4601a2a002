#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>

// The sha256 of installed files, as the last update left them, so that a patch can be picked
// without reading the whole installed file. An item is trusted only while the file still has
// the size and last-write time it had then; a wrong item costs a patch that fails its check
// and falls back to the whole file, never a wrong file.
class InstalledDigests {
 public:
  // Reads the record in installDir (missing or damaged: no items).
  void load(const std::filesystem::path& installDir);
  // The recorded digest of the manifest path when `installed` (not followed through a link)
  // still has the recorded size and time; empty otherwise.
  std::string digestOf(const std::string& manifestPath, const std::filesystem::path& installed) const;

  struct Item {
    std::uint64_t size = 0;
    std::int64_t fileTime = 0;  // the last-write time in FILETIME units
    std::string sha256;
  };
  const std::unordered_map<std::string, Item>& items() const { return items_; }

  // The size and time of a plain file at `local` (not followed through a link) into `item`;
  // false for anything else.
  static bool plainFileStatus(const std::filesystem::path& local, Item& item);

 private:
  std::unordered_map<std::string, Item> items_;
};

// Replaces the record with `items` by manifest path. False with errorText when it cannot be
// written.
bool writeInstalledDigests(const std::filesystem::path& installDir,
                           const std::unordered_map<std::string, InstalledDigests::Item>& items, std::string& errorText);
