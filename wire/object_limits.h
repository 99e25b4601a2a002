#pragma once

#include <cstdint>

// The bounds that kestrun-publish writes objects within and the launcher reads them within.

// A patch refers back into the old file, so its window spans the old and the new file; the
// largest window zstd has (2 GiB) bounds it. Files beyond that still get patches: they refer
// back only as far as the window reaches.
inline constexpr int kMaxObjectWindowLog = 31;

// The decoder window that an object for a result of `bytes` may ask for (a patch: the old and
// the new file together): the smallest power of two that holds them, at least 1 MiB and at
// most 2^kMaxObjectWindowLog. kestrun-publish never writes a frame with a larger one; zstd
// sizes its window to the data it is given.
inline int objectWindowLog(std::uint64_t bytes) {
  int log = 20;
  while (log < kMaxObjectWindowLog && (std::uint64_t{1} << log) < bytes) ++log;
  return log;
}

// Results up to this size are decoded through a window in memory (at most their own size).
// A larger one is decoded straight into its staged file, mapped into memory: the file is its
// own window, and the pages already written (and those of the old file) are handed back to
// the system every kResidentStep bytes, so the memory it holds does not grow with the file.
inline constexpr std::uint64_t kBufferedObjectBytes = std::uint64_t{8} << 20;
inline constexpr std::uint64_t kResidentStep = std::uint64_t{4} << 20;
// Such a file takes its whole size on the disk before a byte of its object is checked, and that
// size may come from an unsigned manifest: it is refused, and the whole file fetched instead,
// when it would leave less than this free.
inline constexpr std::uint64_t kKeptFreeDiskBytes = std::uint64_t{64} << 20;

// The memory that decoding one object may hold: for a result decoded into its mapped file,
// the pages of about two steps (zstd keeps no window of its own there, whatever the frame
// asks for); otherwise the window that the decoder accepts for it (for a patch, over the old
// file and the new one). zstd sizes that window to the result the frame declares, and the
// decoder takes only a frame that declares the entry's size, so this bounds what a frame can
// claim before its bytes are checked.
inline std::uint64_t decoderMemory(std::uint64_t resultBytes, std::uint64_t prefixBytes,
                                   std::uint64_t bufferedObjectBytes) {
  if (resultBytes > bufferedObjectBytes) return 2 * kResidentStep;
  return std::uint64_t{1} << objectWindowLog(prefixBytes + resultBytes);
}

// Decoder memory of all transfers together. A transfer takes a share of this (decoderMemory)
// before it decodes, and the entries after it wait while none is free: sixteen transfers at
// once hold this much at most, whatever the size of their files.
inline constexpr std::uint64_t kDecoderWindowBudget = std::uint64_t{128} << 20;
