#include "platform/win32/reparse_names.h"

namespace platform::win32 {

namespace {

// Tag (4 bytes), data length (2), reserved (2), then the four name fields of 2 bytes each.
constexpr std::size_t kNameFieldsStart = 8;
// A symbolic link has 4 bytes of flags between the name fields and its path buffer.
constexpr std::size_t kSymlinkPathStart = kNameFieldsStart + 8 + 4;
constexpr std::size_t kMountPointPathStart = kNameFieldsStart + 8;

std::uint16_t read16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t read32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(read16(bytes)) | (static_cast<std::uint32_t>(read16(bytes + 2)) << 16);
}

// One name: `offset` and `length` are byte counts into the path buffer, which holds
// `bufferBytes` bytes; a name is made of whole UTF-16 units.
bool readName(const unsigned char* pathBuffer, std::size_t bufferBytes, std::uint16_t offset, std::uint16_t length,
              std::u16string& name) {
  if (offset % 2 != 0 || length % 2 != 0) return false;
  if (static_cast<std::size_t>(offset) + length > bufferBytes) return false;
  name.clear();
  for (std::size_t i = 0; i < length; i += 2) name += static_cast<char16_t>(read16(pathBuffer + offset + i));
  return true;
}

}  // namespace

ReparseNames readReparseNames(const unsigned char* data, std::size_t returned, std::u16string& printName,
                              std::u16string& substituteName) {
  printName.clear();
  substituteName.clear();
  if (returned < kNameFieldsStart) return ReparseNames::Invalid;
  const std::uint32_t tag = read32(data);
  std::size_t pathStart = 0;
  if (tag == kSymlinkReparseTag) {
    pathStart = kSymlinkPathStart;
  } else if (tag == kMountPointReparseTag) {
    pathStart = kMountPointPathStart;
  } else {
    return ReparseNames::OtherTag;
  }
  // The two layouts order their name fields alike: substitute offset and length, then print.
  if (returned < pathStart) return ReparseNames::Invalid;
  const unsigned char* fields = data + kNameFieldsStart;
  const std::size_t bufferBytes = returned - pathStart;
  const unsigned char* pathBuffer = data + pathStart;
  if (!readName(pathBuffer, bufferBytes, read16(fields + 4), read16(fields + 6), printName) ||
      !readName(pathBuffer, bufferBytes, read16(fields), read16(fields + 2), substituteName)) {
    return ReparseNames::Invalid;
  }
  return ReparseNames::Read;
}

}  // namespace platform::win32
