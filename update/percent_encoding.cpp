#include "update/percent_encoding.h"

#include <curl/curl.h>

#include <memory>

namespace {

struct CurlFree {
  void operator()(char* text) const { curl_free(text); }
};

}  // namespace

std::string percentEncoded(const std::string& text) {
  // The library has ignored the handle here since 7.82: no handle needs to be made for it.
  std::unique_ptr<char, CurlFree> escaped(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())));
  return escaped ? std::string(escaped.get()) : text;
}
