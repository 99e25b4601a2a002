// Reparse data as a file system could return it, through the reader of link and junction
// names. The input is the returned bytes, exactly as long as the fuzzer made them, so any read
// beyond them is caught; names that are read lie inside the path buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32/reparse_names.h"

namespace {

// Reparse data in the documented layout: tag, data length and reserved (both unread), the
// name fields (for a symbolic link also its two flag halves), then the path buffer.
std::vector<std::uint8_t> layout(std::uint32_t tag, std::initializer_list<std::uint16_t> fields,
                                 const std::u16string& pathBuffer) {
  std::vector<std::uint8_t> bytes;
  const auto put16 = [&bytes](std::uint32_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
  };
  for (std::uint32_t value : {tag & 0xFFFF, tag >> 16, 0u, 0u}) put16(value);
  for (std::uint16_t value : fields) put16(value);
  for (char16_t unit : pathBuffer) put16(unit);
  return bytes;
}

bool reads(const std::vector<std::uint8_t>& data, const std::u16string& printName, const std::u16string& substituteName) {
  std::u16string print;
  std::u16string substitute;
  return platform::win32::readReparseNames(data.data(), data.size(), print, substitute) ==
             platform::win32::ReparseNames::Read &&
         print == printName && substitute == substituteName;
}

}  // namespace

// Wine cannot make reparse points, so the Windows tests never reach the reader; its reading of
// both layouts is checked here once, before fuzzing.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using platform::win32::kMountPointReparseTag;
  using platform::win32::kSymlinkReparseTag;
  if (!reads(layout(kSymlinkReparseTag, {8, 16, 0, 8, 0, 0}, u"C:\\a\\??\\C:\\a"), u"C:\\a", u"\\??\\C:\\a") ||
      !reads(layout(kMountPointReparseTag, {0, 10, 10, 0}, u"\\??\\D"), u"", u"\\??\\D"))
    std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string printName;
  std::u16string substituteName;
  const auto result = platform::win32::readReparseNames(data, size, printName, substituteName);
  if (result != platform::win32::ReparseNames::Read) return 0;
  const std::uint32_t tag = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  const std::size_t pathStart = tag == platform::win32::kSymlinkReparseTag ? 20 : 16;
  if (size < pathStart || 2 * printName.size() > size - pathStart || 2 * substituteName.size() > size - pathStart)
    std::abort();
  return 0;
}
