#pragma once

#include <cstdint>

// The bounds that kestrun-publish writes objects within and the launcher reads them within.
// A file above kMaxObjectFileBytes gets no objects and is always fetched whole: decoding one
// keeps at most its own size of recent output in memory (the decoder's window).
inline constexpr std::int64_t kMaxObjectFileBytes = std::int64_t{32} << 20;
// A patch refers back into the old file, so its window spans the old and the new file:
// 2^26 bytes covers two files at the bound.
inline constexpr int kMaxObjectWindowLog = 26;
