#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "update/object_limits.h"

struct ZSTD_DCtx_s;

// Decodes one zstd frame (a compressed copy, or a patch against an old file) as its bytes
// arrive, handing the decoded bytes on in pieces. Memory stays bounded: the frame's window
// may not pass windowBytes() (object_limits.h), the decoded bytes may not pass `maxOutput`,
// and the old file of a patch is only referred to, never copied (the caller keeps it mapped).
class ObjectDecoder {
 public:
  // Takes decoded bytes; false stops the decoding (the sink keeps its own reason).
  using Sink = std::function<bool(const unsigned char*, std::size_t)>;

  ObjectDecoder();
  ~ObjectDecoder();
  ObjectDecoder(const ObjectDecoder&) = delete;
  ObjectDecoder& operator=(const ObjectDecoder&) = delete;

  // Begins a frame. `prefix` (null for a compressed copy) must stay valid until the end.
  bool start(const unsigned char* prefix, std::size_t prefixSize, std::uint64_t maxOutput, std::string& error);
  // Decodes what arrived. False with error on damaged data, on output beyond maxOutput, on
  // bytes after the end of the frame, or when the sink refuses.
  bool feed(const void* data, std::size_t size, const Sink& sink, std::string& error);
  // Whether the frame has ended; false with error when it was cut short.
  bool finish(std::string& error) const;
  std::uint64_t produced() const { return produced_; }
  // The largest window a frame may ask for, given the result's bound and the old file's size.
  static std::uint64_t windowBytes(std::size_t prefixSize, std::uint64_t maxOutput) {
    return std::uint64_t{1} << objectWindowLog(prefixSize + maxOutput);
  }

 private:
  bool hasStandardMagic() const;
  bool matchesDeclaredSize() const;

  struct Free {
    void operator()(ZSTD_DCtx_s* context) const;
  };
  std::unique_ptr<ZSTD_DCtx_s, Free> context_;
  std::vector<unsigned char> buffer_;
  std::string header_;  // the frame's first bytes, enough for its header
  std::uint64_t maxOutput_ = 0;
  std::uint64_t produced_ = 0;
  bool ended_ = false;
};
