#include "tests/support/zstd_frame.h"

#include <zstd.h>

namespace testing_support {

std::string zstdFrame(const std::string& data, const std::string* prefix) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  if (prefix != nullptr) ZSTD_CCtx_refPrefix(context, prefix->data(), prefix->size());
  std::string frame(ZSTD_compressBound(data.size()), '\0');
  const std::size_t size = ZSTD_compress2(context, frame.data(), frame.size(), data.data(), data.size());
  ZSTD_freeCCtx(context);
  frame.resize(ZSTD_isError(size) ? 0 : size);
  return frame;
}

std::string zstdWideFrame(const std::string& data, int windowLog) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
  std::string frame(ZSTD_compressBound(data.size()) + 64, '\0');
  ZSTD_outBuffer out{frame.data(), frame.size(), 0};
  ZSTD_inBuffer in{data.data(), data.size(), 0};
  // Fed without its size, the library keeps the window it was given.
  std::size_t left = ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);
  while (!ZSTD_isError(left) && (left = ZSTD_compressStream2(context, &out, &in, ZSTD_e_end)) != 0) {
  }
  ZSTD_freeCCtx(context);
  frame.resize(ZSTD_isError(left) ? 0 : out.pos);
  return frame;
}

std::string zstdDecoded(const std::string& frame, const std::string* prefix) {
  const unsigned long long size = ZSTD_getFrameContentSize(frame.data(), frame.size());
  if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN) return "(undecodable)";
  ZSTD_DCtx* context = ZSTD_createDCtx();
  ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, 27);
  if (prefix != nullptr) ZSTD_DCtx_refPrefix(context, prefix->data(), prefix->size());
  std::string data(size, '\0');
  const std::size_t decoded = ZSTD_decompressDCtx(context, data.data(), data.size(), frame.data(), frame.size());
  ZSTD_freeDCtx(context);
  return ZSTD_isError(decoded) ? "(undecodable)" : data.substr(0, decoded);
}

}  // namespace testing_support
