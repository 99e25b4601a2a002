#pragma once

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Removes what an installation put in a directory and nothing else: the paths of its record
// of installed paths, the launcher's own items at the top and the folders that are empty once
// they are gone. Nothing is reached through a linked folder, a link is removed as a link, a
// folder only when empty, and neither the directory itself nor anything outside it is touched.
// Each step says on `out` what it skipped or could not remove, a line each.
class InstallationRemoval {
 public:
  InstallationRemoval(std::filesystem::path installDir, std::ostream& out);

  // The record's paths: each must be a manifest path that stays inside, is none of the
  // launcher's own names and has no element that Windows could read as another name (a short
  // name's form, a dot or blank at the end); folders wait for removeEmptyFolders.
  void removeRecordedPaths(const std::vector<std::string>& paths);
  // The launcher's own items at the top, but the installation lock (the caller holds it), the
  // record (settleRecord's) and, of the logs folder, anything but the launcher's daily logs.
  void removeOwnItems();
  // The recorded folders and the parents of recorded paths that are now empty, deepest first.
  void removeEmptyFolders();
  // Last: the record goes, unless something could not be removed and recorded paths are still
  // there; it then names exactly those, so that a later run can finish the removal.
  void settleRecord();
  // One item of the directory's top, as the launcher's own (update.lock while still held).
  void removeTopItem(const std::string& name);

  int removed() const { return removed_; }
  std::size_t failed() const { return failed_; }
  // Every item still in the directory, folders and links counted, links not followed, the
  // launcher's executable (left to the caller) not counted.
  std::size_t countLeftItems() const;

 private:
  void removeLocal(const std::filesystem::path& relative, const std::string& shown);
  bool reachedThroughLink(const std::filesystem::path& relative, const std::string& shown);
  void fail(const std::string& shown, const std::error_code& error);

  std::filesystem::path installDir_;
  std::ostream& out_;
  std::set<std::filesystem::path> folders_;  // relative to installDir_
  // The recorded paths that were tried, with their place (empty when unknown: always kept).
  std::vector<std::pair<std::string, std::filesystem::path>> tried_;
  int removed_ = 0;
  std::size_t failed_ = 0;
};
