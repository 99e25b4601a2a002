#pragma once

#include <string>

namespace testing_support {

// One zstd frame of `data` as kestrun-publish makes its objects: a compressed copy, or with
// `prefix` a patch that rebuilds `data` from it.
std::string zstdFrame(const std::string& data, const std::string* prefix);
// A compressed copy of `data` whose header asks for a window of 2^windowLog bytes, its size
// left unknown, as no publish makes one.
std::string zstdWideFrame(const std::string& data, int windowLog);
// What a frame decodes to (with the prefix it was made against); "(undecodable)" otherwise.
std::string zstdDecoded(const std::string& frame, const std::string* prefix);

}  // namespace testing_support
