#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "update/manifest_entry.h"
#include "update/transfer_failure.h"

struct StagedDownload;

// What the staged download settles for one entry before any transfer: a file to fetch from
// `url` into `staged`, an entry already done (a link), or the run's error.
struct PreparedEntry {
  enum class Outcome { Fetch, Done, Failed };
  Outcome outcome = Outcome::Done;
  std::filesystem::path staged = {};
  std::string url = {};
  Failure failure = {};
};
using PrepareEntry = std::function<PreparedEntry(const ManifestEntry&)>;

// Fetches download.pending, up to download.parallelTransfers files at once, retrying a failed
// file three times after a pause of a second. Whatever the number in flight, what the rest of
// the program sees keeps the list's order: progress(i, total) before entry i, the retry lines
// of each entry in turn, the first failing entry's text as the error, and success once every
// entry is done. A cancel stops every transfer in flight. With one at a time this is the
// plain loop: prepare, fetch, retry, go on.
//
// A whole-file attempt goes on from the bytes an earlier attempt staged, as long as the
// server's answer to it carried a validator. `validators` (one per pending entry) holds them:
// on entry those of parts kept from an earlier run (an entry with one takes no object, as its
// part is of the whole file), on return those of the parts now staged.
bool runOrderedDownload(StagedDownload& download, const PrepareEntry& prepare,
                        const std::function<void(int, int)>& progress, std::vector<std::string>& validators,
                        Failure& failure);
