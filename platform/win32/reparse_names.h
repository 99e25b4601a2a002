#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::win32 {

// The tags of the two reparse-data layouts that carry a print name and a substitute name.
constexpr std::uint32_t kSymlinkReparseTag = 0xA000000C;     // IO_REPARSE_TAG_SYMLINK
constexpr std::uint32_t kMountPointReparseTag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT

enum class ReparseNames { Read, Invalid, OtherTag };

// Both names from the `returned` bytes that FSCTL_GET_REPARSE_POINT wrote at `data`
// (little-endian, any alignment). Every offset and length is checked against the returned
// bytes, so hostile or truncated data gives Invalid, never a read beyond them. Read only
// byte by byte, it needs no system header, so it is checked on every platform.
ReparseNames readReparseNames(const unsigned char* data, std::size_t returned, std::u16string& printName,
                              std::u16string& substituteName);

}  // namespace platform::win32
