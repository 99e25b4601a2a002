// Text on Linux: native text already is UTF-8, so conversions only check validity.
#include "platform/text.h"

#include <string.h>

namespace platform {

namespace {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence.
bool isValidUtf8(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (size - i < length) return false;
    if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

std::string toUtf8(const NativeString& text) { return text; }

bool fromUtf8Strict(const std::string& utf8, NativeString& result) {
  if (!isValidUtf8(utf8)) {
    result.clear();
    return false;
  }
  result = utf8;
  return true;
}

NativeString fromUtf8(const std::string& utf8) { return utf8; }

std::string pathToUtf8(const std::filesystem::path& path) { return path.native(); }

std::filesystem::path pathFromUtf8(const std::string& utf8) { return std::filesystem::path(utf8); }

std::string windowsErrorText(std::uint32_t code) {
  // strerrordesc_np gives the untranslated text and null for a code the C library does not
  // know; strerror would invent "Unknown error N" instead.
  const char* text = code <= 0x7fffffffu ? strerrordesc_np(static_cast<int>(code)) : nullptr;
  return trimSystemMessage(text ? std::string(text) : std::string());
}

}  // namespace platform
