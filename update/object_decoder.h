#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wire/object_limits.h"

struct ZSTD_DCtx_s;

// Decodes one zstd frame (a compressed copy, or a patch against an old file) as its bytes
// arrive, handing the decoded bytes on in pieces. Memory stays bounded: the frame's window
// may not pass what the old and the new file need (objectWindowLog), the frame must declare
// the expected result size (`maxOutput`), both refused as soon as its header is in, before
// zstd takes any memory for it; the decoded bytes may not pass that size, and the old file of
// a patch is only referred to, never copied (the caller keeps it mapped).
// Started with start(), the decoder keeps its window in memory (zstd sizes it to the frame's
// declared result, at most the window); started with startInto(), it writes into the caller's
// buffer, which is its window, and keeps none of its own.
class ObjectDecoder {
 public:
  // Takes decoded bytes; false stops the decoding (the sink keeps its own reason).
  using Sink = std::function<bool(const unsigned char*, std::size_t)>;

  ObjectDecoder();
  ~ObjectDecoder();
  ObjectDecoder(const ObjectDecoder&) = delete;
  ObjectDecoder& operator=(const ObjectDecoder&) = delete;

  // Begins a frame of `maxOutput` bytes. `prefix` (null for a compressed copy) must stay valid
  // until the end.
  bool start(const unsigned char* prefix, std::size_t prefixSize, std::uint64_t maxOutput, std::string& error);
  // Begins a frame decoded into `output` (at most outputSize bytes, which is also maxOutput);
  // the sink is handed the new bytes in place. `output` must stay valid until the end.
  bool startInto(const unsigned char* prefix, std::size_t prefixSize, unsigned char* output, std::size_t outputSize,
                 std::string& error);
  // Decodes what arrived. False with error on damaged data, on a frame that does not declare
  // maxOutput as its size, on output beyond it, on bytes after the end of the frame, or when
  // the sink refuses.
  bool feed(const void* data, std::size_t size, const Sink& sink, std::string& error);
  // Whether the frame has ended; false with error when it was cut short.
  bool finish(std::string& error) const;
  std::uint64_t produced() const { return produced_; }
  // The memory the decoder holds now, its window included.
  std::size_t memoryBytes() const;

 private:
  bool begin(const unsigned char* prefix, std::size_t prefixSize, std::uint64_t maxOutput, std::string& error);
  bool hasStandardMagic() const;
  bool hasAcceptableHeader(std::string& error);
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
  int windowLog_ = 0;            // log2 of the largest window accepted
  bool headerChecked_ = false;   // the frame's header is in, with that window and the expected size
};
