// The percent-encoding of a manifest path for the file request: the result holds only
// unreserved characters, '/' and %XX with upper-case digits, and decodes to the path again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "staging/url_escape.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower-case digits are not what the request promises either
}

bool isUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string encoded = encodeManifestPath(path);
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '%') {
      if (i + 2 >= encoded.size()) std::abort();
      const int high = hexValue(encoded[i + 1]);
      const int low = hexValue(encoded[i + 2]);
      if (high < 0 || low < 0) std::abort();
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (isUnreserved(c) || c == '/') {
      decoded += c;
    } else {
      std::abort();
    }
  }
  if (decoded != path) std::abort();
  return 0;
}
