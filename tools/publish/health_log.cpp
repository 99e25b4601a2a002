#include "tools/publish/health_log.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

namespace publish {

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The value of `key` in a query string, or empty.
std::string queryValue(const std::string& query, const std::string& key) {
  std::size_t start = 0;
  while (start <= query.size()) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string pair = query.substr(start, end - start);
    if (pair.compare(0, key.size() + 1, key + "=") == 0) return pair.substr(key.size() + 1);
    start = end + 1;
  }
  return {};
}

void count(HealthCounts& counts, const std::string& result, bool earlyExit) {
  if (result == "rolled_back") {
    ++counts[5];
    return;
  }
  ++counts[0];
  if (result == "up_to_date") ++counts[1];
  if (result == "updated") ++counts[2];
  if (result == "failed") ++counts[3];
  if (result == "updated" && earlyExit) ++counts[4];
}

// The day and the query string of one access-log line that is a health report.
struct HealthRequest {
  std::string day;  // "YYYY-MM-DD"
  std::string query;
};

// Reads a line such as
//   127.0.0.1 - - [08/Dec/2026:07:30:00 +0000] "GET /gis/update/health?QUERY HTTP/1.1" 204 0 "-" "Kestrun/1.0"
// by plain searches: a line of any length (a long user agent, a hostile request) costs one
// pass over it, and lines that are no report are passed over before anything else is read.
bool readHealthRequest(const std::string& line, HealthRequest& request) {
  static const std::string kRequest = "\"GET /gis/update/health?";
  const std::size_t get = line.find(kRequest);
  if (get == std::string::npos) return false;
  const std::size_t queryStart = get + kRequest.size();
  const std::size_t queryEnd = line.find_first_of(" \"", queryStart);
  if (queryEnd == std::string::npos || line.compare(queryEnd, 6, " HTTP/") != 0) return false;
  // The time is the first bracket of the line: "[08/Dec/2026:".
  const std::size_t open = line.find('[');
  if (open == std::string::npos || open > get || line.size() < open + 13 || line[open + 3] != '/' ||
      line[open + 7] != '/' || line[open + 12] != ':') {
    return false;
  }
  const std::string dayOfMonth = line.substr(open + 1, 2);
  const std::string year = line.substr(open + 8, 4);
  const auto month = std::find(std::begin(kMonths), std::end(kMonths), line.substr(open + 4, 3));
  if (month == std::end(kMonths) || dayOfMonth.find_first_not_of("0123456789") != std::string::npos ||
      year.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  char day[16];
  std::snprintf(day, sizeof day, "%s-%02d-%s", year.c_str(), static_cast<int>(month - std::begin(kMonths)) + 1,
                dayOfMonth.c_str());
  request.day = day;
  request.query = line.substr(queryStart, queryEnd - queryStart);
  return true;
}

}  // namespace

bool readHealthLog(const std::filesystem::path& log, const std::set<std::string>& held,
                   std::vector<ReleaseHealth>& releases, std::string& error) {
  std::ifstream in(log, std::ios::binary);
  if (!in) {
    error = "cannot read " + log.string();
    return false;
  }
  std::map<std::string, ReleaseHealth> found;
  std::string text;
  HealthRequest request;
  while (std::getline(in, text)) {
    if (!readHealthRequest(text, request)) continue;
    const std::string release = queryValue(request.query, "release");
    if (held.count(release) == 0) continue;
    ReleaseHealth& health = found[release];
    health.release = release;
    const std::string result = queryValue(request.query, "result");
    const bool earlyExit = queryValue(request.query, "early_exit") == "1";
    count(health.total, result, earlyExit);
    count(health.byDay[request.day], result, earlyExit);
  }
  if (in.bad()) {
    error = "cannot read " + log.string();
    return false;
  }
  releases.clear();
  for (auto& [id, health] : found) releases.push_back(std::move(health));
  return true;
}

std::string healthText(const std::vector<ReleaseHealth>& releases) {
  std::string out = "release                   checks  up to date   updated    failed  early exits  rolled back\n";
  char row[160];
  for (const ReleaseHealth& health : releases) {
    const HealthCounts& c = health.total;
    std::snprintf(row, sizeof row, "%-24s %7ld %11ld %9ld %9ld %12ld %12ld\n", health.release.c_str(), c[0], c[1],
                  c[2], c[3], c[4], c[5]);
    out += row;
  }
  return out;
}

std::string healthJson(const std::vector<ReleaseHealth>& releases) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const ReleaseHealth& health : releases) {
    nlohmann::ordered_json item = {{"release", health.release}};
    for (std::size_t i = 0; i < health.total.size(); ++i) item[kHealthCountNames[i]] = health.total[i];
    list.push_back(item);
  }
  return nlohmann::ordered_json({{"releases", list}}).dump(2) + "\n";
}

std::string healthHtml(const std::vector<ReleaseHealth>& releases) {
  static const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b"};
  static const char* const kTitles[] = {"Checks", "Up to date", "Updated", "Failed updates",
                                        "Early exits after an update", "Rolled back at start"};
  std::set<std::string> daySet;
  for (const ReleaseHealth& health : releases) {
    for (const auto& [day, counts] : health.byDay) daySet.insert(day);
  }
  // The page stays small whatever the log spans: its last days only.
  std::vector<std::string> days(daySet.begin(), daySet.end());
  if (days.size() > kChartDays) days.erase(days.begin(), days.end() - kChartDays);
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Release health</title>\n"
      "<style>body{font-family:sans-serif;margin:2em}svg{border:1px solid #ccc;margin:0 1em 1em 0}"
      "td,th{padding:.2em .8em;text-align:right}</style></head><body>\n<h1>Release health</h1>\n<p>";
  for (std::size_t r = 0; r < releases.size(); ++r) {
    page += std::string("<span style=\"color:") + kColours[r % 6] + "\">&#9632; " + releases[r].release + "</span> ";
  }
  page += "</p>\n";
  const int width = 480, height = 200, margin = 30;
  char text[256];
  for (std::size_t measure = 0; measure < std::size(kTitles); ++measure) {
    long top = 1;
    for (const ReleaseHealth& health : releases) {
      for (const auto& [day, counts] : health.byDay) top = std::max(top, counts[measure]);
    }
    std::snprintf(text, sizeof text, "<svg width=\"%d\" height=\"%d\"><text x=\"5\" y=\"15\">%s (max %ld)</text>\n",
                  width, height, kTitles[measure], top);
    page += text;
    for (std::size_t r = 0; r < releases.size(); ++r) {
      page += std::string("<polyline fill=\"none\" stroke-width=\"2\" stroke=\"") + kColours[r % 6] + "\" points=\"";
      for (std::size_t d = 0; d < days.size(); ++d) {
        const auto counts = releases[r].byDay.find(days[d]);
        const long value = counts == releases[r].byDay.end() ? 0 : counts->second[measure];
        const double x = margin + (days.size() < 2 ? 0.0 : double(width - 2 * margin) * d / (days.size() - 1));
        const double y = height - margin - double(height - 2 * margin) * value / top;
        std::snprintf(text, sizeof text, "%.1f,%.1f ", x, y);
        page += text;
      }
      page += "\"/>\n";
    }
    if (!days.empty()) {
      std::snprintf(text, sizeof text, "<text x=\"%d\" y=\"%d\">%s</text><text x=\"%d\" y=\"%d\" text-anchor=\"end\">%s</text>\n",
                    margin, height - 8, days.front().c_str(), width - margin, height - 8, days.back().c_str());
      page += text;
    }
    page += "</svg>\n";
  }
  page += "<table><tr><th>release</th>";
  for (const char* name : kHealthCountNames) page += std::string("<th>") + name + "</th>";
  page += "</tr>\n";
  for (const ReleaseHealth& health : releases) {
    page += "<tr><td>" + health.release + "</td>";
    for (long value : health.total) page += "<td>" + std::to_string(value) + "</td>";
    page += "</tr>\n";
  }
  return page + "</table>\n</body></html>\n";
}

}  // namespace publish
