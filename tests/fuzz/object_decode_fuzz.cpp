// The decoder of compressed copies and patches: whatever arrives, it stays within its bounds
// and gives the same bytes (or the same refusal) however the object is cut into pieces, and
// whether it keeps its own window or decodes into the caller's buffer; and whatever window a
// frame asks for, the decoder never holds more than the result it expects besides zstd's
// fixed tables (none of it when decoding into the caller's buffer).
// Input: one byte that picks a compressed copy (even) or a patch against a fixed old file
// (odd), one byte for the piece size, then the object.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <zstd.h>

#include "update/object_decoder.h"

namespace {

// The old file the patches of the seed corpus were made against ("old line N\n", N = 0..399).
const std::string& oldFile() {
  static const std::string text = [] {
    std::string lines;
    for (int i = 0; i < 400; ++i) lines += "old line " + std::to_string(i) + "\n";
    return lines;
  }();
  return text;
}

constexpr std::uint64_t kMaxOutput = 1 << 20;
// The context's tables and its input block, and the pieces handed out.
constexpr std::size_t kFixedMemory = 512 << 10;

bool decode(const std::uint8_t* data, std::size_t size, bool patch, std::size_t piece, std::string& out,
            bool inPlace = false) {
  // The size the frame declares stands for the manifest's, so that good frames decode.
  const unsigned long long declared = ZSTD_getFrameContentSize(data, size);
  const std::uint64_t expected = declared <= kMaxOutput ? declared : kMaxOutput;
  ObjectDecoder decoder;
  std::string error;
  const auto* prefix = reinterpret_cast<const unsigned char*>(oldFile().data());
  std::string target(inPlace ? expected : 0, '\0');
  const bool started =
      inPlace ? decoder.startInto(patch ? prefix : nullptr, patch ? oldFile().size() : 0,
                                  reinterpret_cast<unsigned char*>(target.data()), target.size(), error)
              : decoder.start(patch ? prefix : nullptr, patch ? oldFile().size() : 0, expected, error);
  if (!started) std::abort();
  const auto sink = [&](const unsigned char* bytes, std::size_t count) {
    out.append(reinterpret_cast<const char*>(bytes), count);
    return true;
  };
  bool fed = true;
  for (std::size_t offset = 0; fed && offset < size; offset += piece) {
    const std::size_t count = size - offset < piece ? size - offset : piece;
    fed = decoder.feed(data + offset, count, sink, error);
  }
  if (decoder.memoryBytes() > (inPlace ? 0 : expected) + kFixedMemory) std::abort();
  if (out.size() != decoder.produced() || decoder.produced() > expected) std::abort();
  return fed && decoder.finish(error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool patch = (data[0] & 1) != 0;
  const std::size_t piece = static_cast<std::size_t>(data[1]) + 1;
  std::string whole;
  std::string pieces;
  const bool wholeOk = decode(data + 2, size - 2, patch, size, whole);
  const bool piecesOk = decode(data + 2, size - 2, patch, piece, pieces);
  if (wholeOk != piecesOk || (wholeOk && whole != pieces)) std::abort();
  std::string inPlace;
  if (decode(data + 2, size - 2, patch, piece, inPlace, true) != wholeOk || (wholeOk && inPlace != whole)) std::abort();
  return 0;
}
