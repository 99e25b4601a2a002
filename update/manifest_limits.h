#pragma once

#include <cstddef>
#include <string>

// The largest manifest body the launcher takes in: about 700,000 entries. A longer or endless
// answer ends the transfer, so a faulty server cannot grow the launcher's memory without bound.
inline constexpr std::size_t kMaxManifestBytes = std::size_t{64} << 20;

// The transfer error text of a body above kMaxManifestBytes.
inline std::string manifestTooLargeText() {
  return "更新清单超过 " + std::to_string(kMaxManifestBytes >> 20) + " MiB";
}
