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
// may not pass what the old and the new file need (objectWindowLog), the decoded bytes may not pass `maxOutput`,
// and the old file of a patch is only referred to, never copied (the caller keeps it mapped).
// Started with start(), the decoder keeps its window in memory (zstd sizes it to the frame's
// result, at most the window); started with startInto(), it writes into the caller's buffer,
// which is its window, and keeps none of its own.
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
  // Begins a frame decoded into `output` (at most outputSize bytes, which is also maxOutput);
  // the sink is handed the new bytes in place. `output` must stay valid until the end.
  bool startInto(const unsigned char* prefix, std::size_t prefixSize, unsigned char* output, std::size_t outputSize,
                 std::string& error);
  // Decodes what arrived. False with error on damaged data, on output beyond maxOutput, on
  // bytes after the end of the frame, or when the sink refuses.
  bool feed(const void* data, std::size_t size, const Sink& sink, std::string& error);
  // Whether the frame has ended; false with error when it was cut short.
  bool finish(std::string& error) const;
  std::uint64_t produced() const { return produced_; }

 private:
  bool begin(const unsigned char* prefix, std::size_t prefixSize, std::uint64_t maxOutput, std::string& error);
  bool hasStandardMagic() const;
  bool matchesDeclaredSize() const;

  struct Free {
    void operator()(ZSTD_DCtx_s* context) const;
  };
  std::unique_ptr<ZSTD_DCtx_s, Free> context_;
  std::vector<unsigned char> buffer_;
  unsigned char* output_ = nullptr;  // the caller's buffer, when started with startInto()
  std::size_t outputSize_ = 0;
  std::string header_;  // the frame's first bytes, enough for its header
  std::uint64_t maxOutput_ = 0;
  std::uint64_t produced_ = 0;
  bool ended_ = false;
};
