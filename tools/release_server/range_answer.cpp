#include "tools/release_server/range_answer.h"

#include <chrono>
#include <cstdio>
#include <optional>

namespace release_server {

namespace fs = std::filesystem;

namespace {

using namespace std::chrono;

// An IMF-fixdate, as nginx writes Last-Modified: "Tue, 08 Dec 2026 07:00:00 GMT".
std::string httpDate(sys_seconds time) {
  static const char* const dayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const monthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss<seconds> clock(time - day);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02ld:%02ld:%02ld GMT", dayNames[weekday(day).c_encoding()],
                static_cast<unsigned>(date.day()), monthNames[static_cast<unsigned>(date.month()) - 1],
                static_cast<int>(date.year()), static_cast<long>(clock.hours().count()),
                static_cast<long>(clock.minutes().count()), static_cast<long>(clock.seconds().count()));
  return text;
}

std::optional<std::uint64_t> number(const std::string& text) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return {};
  return std::stoull(text);
}

// The one range of a "bytes=" header as [first, last] within `size`, nullopt when it cannot
// be read, and first == size when it starts at or past the end.
std::optional<std::pair<std::uint64_t, std::uint64_t>> oneRange(const std::string& ranges, std::uint64_t size) {
  const std::size_t dash = ranges.find('-');
  if (dash == std::string::npos) return {};
  const std::string from = ranges.substr(0, dash);
  const std::string to = ranges.substr(dash + 1);
  if (from.empty()) {  // the last SUFFIX bytes
    const auto suffix = number(to);
    if (!suffix || *suffix == 0) return {};
    return std::pair{size - std::min(*suffix, size), size - 1};
  }
  const auto first = number(from);
  const auto last = to.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : number(to);
  if (!first || !last || *last < *first) return {};
  if (*first >= size) return std::pair{size, size};
  return std::pair{*first, std::min(*last, size - 1)};
}

}  // namespace

void ignoreRanges(const httplib::Request& request) {
  // Parsed by the library before the routes see the request; the routes answer ranges themselves.
  const_cast<httplib::Request&>(request).ranges.clear();
}

RangeAnswer answerRange(const httplib::Request& request, httplib::Response& response, const fs::path& file,
                        std::uint64_t size) {
  ignoreRanges(request);
  std::error_code ec;
  const auto written = floor<seconds>(file_clock::to_sys(fs::last_write_time(file, ec)));
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(written.time_since_epoch().count()),
                static_cast<unsigned long long>(size));
  const std::string lastModified = httpDate(written);
  response.set_header("ETag", etag);
  response.set_header("Last-Modified", lastModified);
  response.set_header("Accept-Ranges", "bytes");

  RangeAnswer whole{200, 0, size};
  const std::string range = request.get_header_value("Range");
  if (range.compare(0, 6, "bytes=") != 0 || range.find(',') != std::string::npos) return whole;
  if (request.has_header("If-Range")) {
    const std::string ifRange = request.get_header_value("If-Range");
    if (ifRange != etag && ifRange != lastModified) return whole;
  }
  const auto chosen = oneRange(range.substr(6), size);
  if (!chosen || chosen->first >= size) {
    response.status = 416;
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    response.set_content("range not satisfiable\n", "text/plain; charset=utf-8");
    return {416, 0, 0};
  }
  response.set_header("Content-Range", "bytes " + std::to_string(chosen->first) + "-" + std::to_string(chosen->second) +
                                           "/" + std::to_string(size));
  return {206, chosen->first, chosen->second - chosen->first + 1};
}

}  // namespace release_server
