#pragma once

#include <cstdint>

// The bounds that kestrun-publish writes objects within and the launcher reads them within.
// A file above kMaxObjectFileBytes gets no objects and is always fetched whole: decoding one
// keeps at most its own size of recent output in memory (the decoder's window).
inline constexpr std::int64_t kMaxObjectFileBytes = std::int64_t{32} << 20;
// A patch refers back into the old file, so its window spans the old and the new file:
// 2^26 bytes covers two files at the bound.
inline constexpr int kMaxObjectWindowLog = 26;

// The decoder window that an object for a result of `bytes` may ask for (a patch: the old and
// the new file together): the smallest power of two that holds them, at least 1 MiB and at
// most 2^kMaxObjectWindowLog. kestrun-publish never writes a frame with a larger one; zstd
// sizes its window to the data it is given.
inline int objectWindowLog(std::uint64_t bytes) {
  int log = 20;
  while (log < kMaxObjectWindowLog && (std::uint64_t{1} << log) < bytes) ++log;
  return log;
}

// Decoder windows of all transfers together. A transfer takes a share of this (the window its
// object may ask for) before it decodes, and the entries after it wait while none is free:
// with sixteen transfers at once, windows allocated from bytes not yet checked against their
// hash stay at this much instead of a gigabyte. Two patches at the bound fit.
inline constexpr std::uint64_t kDecoderWindowBudget = std::uint64_t{2} << kMaxObjectWindowLog;
