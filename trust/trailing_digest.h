#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "trust/sha256_hex.h"

// The SHA-256 of bytes that one thread writes into a buffer from front to back, made on a
// thread of its own that follows the writer: the check of a large decoded file then costs
// little more time than its decoding. The writer says how far its bytes are final; they must
// not change afterwards, and the buffer must outlive this object.
class TrailingDigest {
 public:
  enum class Buffer {
    InMemory,
    // A file mapping: the pages hashed are taken out of resident memory as the hash passes
    // them, or a hash that falls behind a fast decoder would hold most of a large file. Never
    // for heap memory, whose pages would be lost.
    FileMapping,
  };
  explicit TrailingDigest(const unsigned char* data, Buffer buffer = Buffer::InMemory);
  // Stops the thread at once (a failed decoding needs no digest).
  ~TrailingDigest();
  TrailingDigest(const TrailingDigest&) = delete;
  TrailingDigest& operator=(const TrailingDigest&) = delete;

  // Bytes [0, final) are written and will not change.
  void advance(std::uint64_t final);
  // Waits until every byte advanced to is hashed: the digest as lower-case hexadecimal.
  std::string finishHex();

 private:
  void follow();
  void hashUpTo(std::uint64_t end);
  void stopThread();

  const unsigned char* const data_;
  const Buffer buffer_;
  Sha256Stream hash_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t final_ = 0;
  std::uint64_t hashed_ = 0;  // only where no thread runs, or by the thread itself
  std::uint64_t dropped_ = 0;  // likewise: the pages below are handed back
  bool ended_ = false;
  bool stopping_ = false;
  std::thread thread_;
};
