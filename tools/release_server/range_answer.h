#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <httplib.h>

namespace release_server {

// The part of a file that one request is answered with, decided as nginx decides it for a
// static file: every answer carries the file's ETag ("<mtime hex>-<size hex>", quoted),
// Last-Modified and Accept-Ranges. One range "bytes=FIRST-[LAST]" or "bytes=-SUFFIX" gets 206
// with Content-Range, or 416 with "bytes */SIZE" when it starts at or past the end. An
// If-Range that is neither the ETag nor the Last-Modified date, a header that does not begin
// with "bytes=", or several ranges (nginx would send them as multipart) get the whole file.
struct RangeAnswer {
  int status = 200;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// Sets the status and headers of `response` (and a body for 416) and says which bytes follow.
RangeAnswer answerRange(const httplib::Request& request, httplib::Response& response,
                        const std::filesystem::path& file, std::uint64_t size);

// For an answer that is always the whole file: the library must not cut it to a range.
void ignoreRanges(const httplib::Request& request);

}  // namespace release_server
