#include "update/object_decoder.h"

// For ZSTD_d_stableOutBuffer, which zstd still lists among its experimental parameters.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>


namespace {
// The longest frame header the format allows.
constexpr std::size_t kMaxFrameHeaderBytes = 18;
// Decoding in place, zstd decodes every whole block of the input it is given in one call: a
// patch's few bytes can stand for hundreds of MiB. Given this much at a time, a call decodes
// at most 16 blocks (a block takes at least 4 bytes), 2 MiB, so the caller sees the result
// grow in steps it can keep its memory within.
constexpr std::size_t kInPlaceSlice = 64;
}  // namespace

void ObjectDecoder::Free::operator()(ZSTD_DCtx_s* context) const { ZSTD_freeDCtx(context); }

ObjectDecoder::ObjectDecoder() = default;
ObjectDecoder::~ObjectDecoder() = default;

bool ObjectDecoder::start(const unsigned char* prefix, std::size_t prefixSize, std::uint64_t maxOutput,
                          std::string& error) {
  if (!begin(prefix, prefixSize, maxOutput, error)) return false;
  buffer_.resize(ZSTD_DStreamOutSize());
  return true;
}

bool ObjectDecoder::startInto(const unsigned char* prefix, std::size_t prefixSize, unsigned char* output,
                              std::size_t outputSize, std::string& error) {
  if (!begin(prefix, prefixSize, outputSize, error)) return false;
  // The output stays the same from call to call, so zstd reads its history from there and
  // allocates no window of its own.
  const std::size_t result = ZSTD_DCtx_setParameter(context_.get(), ZSTD_d_stableOutBuffer, 1);
  if (ZSTD_isError(result)) {
    error = std::string("解压库初始化失败：") + ZSTD_getErrorName(result);
    return false;
  }
  output_ = output;
  outputSize_ = outputSize;
  return true;
}

bool ObjectDecoder::begin(const unsigned char* prefix, std::size_t prefixSize, std::uint64_t maxOutput,
                          std::string& error) {
  context_.reset(ZSTD_createDCtx());
  buffer_.clear();
  output_ = nullptr;
  outputSize_ = 0;
  produced_ = 0;
  ended_ = false;
  headerChecked_ = false;
  header_.clear();
  maxOutput_ = maxOutput;
  if (!context_) {
    error = "解压库初始化失败";
    return false;
  }
  // A compressed copy needs no window beyond its own file; a patch reaches back over the old
  // one. A frame that asks for more is refused before its window is allocated.
  windowLog_ = objectWindowLog(prefixSize + maxOutput);
  std::size_t result = ZSTD_DCtx_setParameter(context_.get(), ZSTD_d_windowLogMax, windowLog_);
  if (!ZSTD_isError(result) && prefix != nullptr) result = ZSTD_DCtx_refPrefix(context_.get(), prefix, prefixSize);
  if (ZSTD_isError(result)) {
    error = std::string("解压库初始化失败：") + ZSTD_getErrorName(result);
    return false;
  }
  return true;
}

bool ObjectDecoder::feed(const void* data, std::size_t size, const Sink& sink, std::string& error) {
  if (size == 0) return true;
  if (ended_ || !context_) {
    error = "压缩数据之后有多余字节";
    return false;
  }
  const std::size_t wanted = std::min(kMaxFrameHeaderBytes - header_.size(), size);
  header_.append(static_cast<const char*>(data), wanted);
  if (!hasStandardMagic()) {
    error = "压缩数据格式无效";
    return false;
  }
  if (!hasAcceptableHeader(error)) return false;
  const bool inPlace = output_ != nullptr;
  ZSTD_inBuffer in{data, inPlace ? std::min(size, kInPlaceSlice) : size, 0};
  for (;;) {
    // In place, the output is the whole result and only its position moves.
    const std::size_t from = inPlace ? static_cast<std::size_t>(produced_) : 0;
    ZSTD_outBuffer out = inPlace ? ZSTD_outBuffer{output_, outputSize_, from}
                                 : ZSTD_outBuffer{buffer_.data(), buffer_.size(), 0};
    const std::size_t taken = in.pos;
    const std::size_t result = ZSTD_decompressStream(context_.get(), &out, &in);
    if (ZSTD_isError(result)) {
      error = std::string("解压失败：") + ZSTD_getErrorName(result);
      return false;
    }
    const std::size_t made = out.pos - from;
    if (made > maxOutput_ - produced_) {
      error = "解压结果超出清单大小：清单=" + std::to_string(maxOutput_);
      return false;
    }
    produced_ += made;
    if (made > 0 && !sink(static_cast<unsigned char*>(out.dst) + from, made)) return false;
    if (result == 0) {
      // The frame is whole: a second frame, or anything else, is not part of the object.
      ended_ = true;
      if (!matchesDeclaredSize()) {
        error = "解压结果与压缩数据声明的大小不符";
        return false;
      }
      if (in.pos < size) {
        error = "压缩数据之后有多余字节";
        return false;
      }
      return true;
    }
    if (in.pos == in.size && in.size < size) {
      in.size = std::min(size, in.size + kInPlaceSlice);
      continue;
    }
    // All input taken and the output buffer not filled (in place: nothing is ever held back
    // for later): nothing more is pending.
    if (in.pos == in.size && (inPlace || out.pos < out.size)) return true;
    // A full result that the frame goes on past: no step forward is possible.
    if (inPlace && made == 0 && in.pos == taken) {
      error = "解压结果超出清单大小：清单=" + std::to_string(maxOutput_);
      return false;
    }
  }
}

// Only a frame of the current format: the library also reads legacy and skippable frames,
// whose streaming it treats differently, and the publish tool writes neither.
bool ObjectDecoder::hasStandardMagic() const {
  static const unsigned char kMagic[] = {0x28, 0xB5, 0x2F, 0xFD};  // ZSTD_MAGICNUMBER, little-endian
  const std::size_t known = std::min(header_.size(), sizeof kMagic);
  return std::equal(kMagic, kMagic + known, reinterpret_cast<const unsigned char*>(header_.data()));
}

// Judged here once the whole header is in, and before zstd has seen all of it: zstd takes the
// memory for the frame as soon as it has, and, for a frame that comes in one piece, skips its
// own window check. Without its size (or with a larger one), zstd keeps all the window that
// the frame asks for, up to the limit a patch of a large old file needs; with the expected
// size, which kestrun-publish always declares, no more than the result. Until the header is
// whole, its bytes only wait in zstd.
bool ObjectDecoder::hasAcceptableHeader(std::string& error) {
  if (headerChecked_) return true;
  ZSTD_frameHeader frame{};
  // Not yet whole (a header takes at most kMaxFrameHeaderBytes), or damaged, which zstd reports.
  if (ZSTD_getFrameHeader(&frame, header_.data(), header_.size()) != 0) return true;
  if (frame.windowSize > (std::uint64_t{1} << windowLog_)) {
    error = std::string("解压失败：") + ZSTD_getErrorString(ZSTD_error_frameParameter_windowTooLarge);
    return false;
  }
  if (frame.frameContentSize != maxOutput_) {
    const bool unknown = frame.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN;
    error = "压缩数据声明的大小与清单不符：清单=" + std::to_string(maxOutput_) + "，声明=" +
            (unknown ? std::string("未知") : std::to_string(frame.frameContentSize));
    return false;
  }
  headerChecked_ = true;
  return true;
}

std::size_t ObjectDecoder::memoryBytes() const {
  return (context_ ? ZSTD_sizeof_DCtx(context_.get()) : 0) + buffer_.capacity();
}

// The library checks the size that a frame declares only when the frame comes in one piece;
// fed in pieces, a frame may end short of it. Checked here, so that the outcome never depends
// on how the bytes arrived.
bool ObjectDecoder::matchesDeclaredSize() const {
  const unsigned long long declared = ZSTD_getFrameContentSize(header_.data(), header_.size());
  if (declared == ZSTD_CONTENTSIZE_UNKNOWN) return true;
  return declared == produced_;
}

bool ObjectDecoder::finish(std::string& error) const {
  if (ended_) return true;
  error = "压缩数据不完整";
  return false;
}
