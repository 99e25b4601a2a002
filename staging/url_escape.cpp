#include "staging/url_escape.h"

namespace {

struct CurlFree {
  void operator()(char* text) const { curl_free(text); }
};

}  // namespace

PathEscaper::PathEscaper() : handle_(curl_easy_init()) {}

std::string PathEscaper::encodePath(const std::string& path) const {
  std::string encoded;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string segment =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!segment.empty()) {
      std::unique_ptr<char, CurlFree> escaped(
          curl_easy_escape(handle_.get(), segment.data(), static_cast<int>(segment.size())));
      encoded += escaped ? std::string(escaped.get()) : segment;
    }
    if (slash == std::string::npos) return encoded;
    encoded += '/';
    start = slash + 1;
  }
}
