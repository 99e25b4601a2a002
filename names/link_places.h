#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace names {

// FNV-1a, formed as a key grows, so that the hashes of all the folders along a path cost one
// pass over it: hashing each folder's key anew costs the square of a long path's length, and a
// manifest may hold a path of millions of elements.
class RunningHash {
 public:
  RunningHash() = default;
  // Goes on from the value of an earlier key.
  explicit RunningHash(std::uint64_t value) : value_(value) {}
  void add(std::string_view bytes) {
    for (const unsigned char byte : bytes) value_ = (value_ ^ byte) * 1099511628211ull;
  }
  std::uint64_t value() const { return value_; }

 private:
  std::uint64_t value_ = 14695981039346656037ull;
};

inline std::uint64_t hashOf(std::string_view key) {
  RunningHash hash;
  hash.add(key);
  return hash.value();
}

// The places of a manifest's link entries (their comparedPathKey), looked up by a key and its
// RunningHash: the key itself is compared only when the hash matches.
class LinkPlaces {
 public:
  void add(std::string key) {
    hashes_.push_back(hashOf(key));
    keys_.insert(std::move(key));
  }
  // After the last add.
  void seal() { std::sort(hashes_.begin(), hashes_.end()); }
  bool empty() const { return keys_.empty(); }
  bool contains(std::string_view key, std::uint64_t hash) const {
    return std::binary_search(hashes_.begin(), hashes_.end(), hash) && keys_.count(std::string(key)) != 0;
  }

 private:
  std::unordered_set<std::string> keys_;
  std::vector<std::uint64_t> hashes_;
};

}  // namespace names
