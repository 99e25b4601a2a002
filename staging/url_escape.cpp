#include "staging/url_escape.h"

#include "update/percent_encoding.h"

std::string encodeManifestPath(const std::string& path) {
  std::string encoded;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string segment =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!segment.empty()) encoded += percentEncoded(segment);
    if (slash == std::string::npos) return encoded;
    encoded += '/';
    start = slash + 1;
  }
}
