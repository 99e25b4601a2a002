#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

// Percent-encoding of manifest paths for the file request, through libcurl's escape
// function. One instance serves a whole download; its library handle is released with it.
class PathEscaper {
 public:
  PathEscaper();

  // Each '/'-separated segment encoded on its own (A-Z a-z 0-9 - . _ ~ stay, every other
  // byte becomes %XX), every slash kept as it is: "bin/My File+1.dll" gives
  // "bin/My%20File%2B1.dll". A segment the library cannot encode is inserted unchanged.
  std::string encodePath(const std::string& path) const;

 private:
  struct Cleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
  };
  std::unique_ptr<CURL, Cleanup> handle_;
};
