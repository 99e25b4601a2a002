#include "trust/sha256_hex.h"

#include <algorithm>

namespace {

std::string toHex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0f];
  }
  return hex;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

std::string Sha256Stream::finishHex() {
  unsigned char digest[kDigestBytes];
  finish(digest);
  return toHex(digest, sizeof digest);
}

std::string sha256Hex(const std::string& bytes) {
  Sha256Stream stream;
  stream.update(bytes.data(), bytes.size());
  return stream.finishHex();
}

bool isSha256Hex(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), isHexDigit);
}

