#pragma once

#include <string>

namespace testing_support {

// One zstd frame of `data` as kestrun-publish makes its objects: a compressed copy, or with
// `prefix` a patch that rebuilds `data` from it.
std::string zstdFrame(const std::string& data, const std::string* prefix);
// What a frame decodes to (with the prefix it was made against); "(undecodable)" otherwise.
std::string zstdDecoded(const std::string& frame, const std::string* prefix);

}  // namespace testing_support
