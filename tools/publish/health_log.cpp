#include "tools/publish/health_log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <random>
#include <unordered_map>
#include <unordered_set>

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

// What a report says, from a fixed set: a sender cannot make up outcomes of its own, each of
// which would count once more.
enum class Outcome : std::uint8_t { other, upToDate, updated, updatedEarlyExit, failed, cancelled, rolledBack };

Outcome outcomeOf(const std::string& query) {
  const std::string result = queryValue(query, "result");
  if (result == "updated") return queryValue(query, "early_exit") == "1" ? Outcome::updatedEarlyExit : Outcome::updated;
  if (result == "up_to_date") return Outcome::upToDate;
  if (result == "failed") return Outcome::failed;
  if (result == "cancelled") return Outcome::cancelled;
  if (result == "rolled_back") return Outcome::rolledBack;
  return Outcome::other;
}

void count(HealthCounts& counts, Outcome outcome) {
  if (outcome == Outcome::rolledBack) {
    ++counts[5];
    return;
  }
  ++counts[0];
  if (outcome == Outcome::upToDate) ++counts[1];
  if (outcome == Outcome::updated || outcome == Outcome::updatedEarlyExit) ++counts[2];
  if (outcome == Outcome::failed) ++counts[3];
  if (outcome == Outcome::updatedEarlyExit) ++counts[4];
}

// What one sender did with one release over the log, as two bits: it tried the release
// (updated to it, failed to, or took it back), and that went wrong (failed, an early exit,
// taken back).
constexpr std::uint8_t kTried = 1;
constexpr std::uint8_t kWentWrong = 2;
std::uint8_t senderBits(Outcome outcome) {
  switch (outcome) {
    case Outcome::updated: return kTried;
    case Outcome::updatedEarlyExit:
    case Outcome::failed:
    case Outcome::rolledBack: return kTried | kWentWrong;
    default: return 0;
  }
}

// The sender, day, time and query string of one access-log line that is a health report.
struct HealthRequest {
  std::string sender;  // reportSender of the line's client address
  std::string day;     // "YYYY-MM-DD"
  std::int64_t time = 0;
  std::string query;
};

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t daysSinceEpoch(int year, int month, int day) {
  year -= month <= 2;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return std::int64_t(era) * 146097 + dayOfEra - 719468;
}

bool allDigits(const std::string& line, std::size_t at, std::size_t count) {
  return line.size() >= at + count &&
         std::all_of(line.begin() + at, line.begin() + at + count, [](char c) { return c >= '0' && c <= '9'; });
}

int number(const std::string& line, std::size_t at, std::size_t count) { return std::stoi(line.substr(at, count)); }

// The time of a log line whose first bracket opens at `open`: "[08/Dec/2026:07:30:00 +0100]".
bool readLogTime(const std::string& line, std::size_t open, HealthRequest& request) {
  const auto month = line.size() < open + 28 ? std::end(kMonths)
                                             : std::find(std::begin(kMonths), std::end(kMonths), line.substr(open + 4, 3));
  if (month == std::end(kMonths) || line[open + 3] != '/' || line[open + 7] != '/' || line[open + 12] != ':' ||
      line[open + 15] != ':' || line[open + 18] != ':' || line[open + 21] != ' ' ||
      (line[open + 22] != '+' && line[open + 22] != '-') || line[open + 27] != ']' || !allDigits(line, open + 1, 2) ||
      !allDigits(line, open + 8, 4) || !allDigits(line, open + 13, 2) || !allDigits(line, open + 16, 2) ||
      !allDigits(line, open + 19, 2) || !allDigits(line, open + 23, 4)) {
    return false;
  }
  const int monthNumber = static_cast<int>(month - std::begin(kMonths)) + 1;
  const int dayOfMonth = number(line, open + 1, 2), year = number(line, open + 8, 4);
  if (dayOfMonth < 1 || dayOfMonth > 31 || year < 1970 || number(line, open + 13, 2) > 23 ||
      number(line, open + 16, 2) > 59 || number(line, open + 19, 2) > 60 || number(line, open + 23, 2) > 23 ||
      number(line, open + 25, 2) > 59) {
    return false;
  }
  char day[16];
  std::snprintf(day, sizeof day, "%s-%02d-%s", line.substr(open + 8, 4).c_str(), monthNumber,
                line.substr(open + 1, 2).c_str());
  request.day = day;
  const int offset = (number(line, open + 23, 2) * 60 + number(line, open + 25, 2)) * 60;
  request.time = daysSinceEpoch(number(line, open + 8, 4), monthNumber, number(line, open + 1, 2)) * 86400 +
                 number(line, open + 13, 2) * 3600 + number(line, open + 16, 2) * 60 + number(line, open + 19, 2) -
                 (line[open + 22] == '+' ? offset : -offset);
  return true;
}

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
  // The time is the first bracket of the line, after the address and two fields.
  const std::size_t open = line.find('[');
  if (open == std::string::npos || open > get || !readLogTime(line, open, request)) return false;
  request.sender = reportSender(line.substr(0, line.find(' ')));
  if (request.sender.empty()) return false;
  request.query = line.substr(queryStart, queryEnd - queryStart);
  return true;
}

// The senders and reports already counted are kept as 64-bit hashes, 8 bytes each, keyed
// with a number drawn for each reading, so that no log can be made to collide on purpose.
class Fingerprint {
 public:
  Fingerprint() : key_(std::random_device{}() * 0x9E3779B97F4A7C15ULL ^ std::random_device{}()) {}
  std::uint64_t operator()(const std::string& text) const {
    std::uint64_t hash = 14695981039346656037ULL ^ key_;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash ^ (hash >> 29);
  }

 private:
  std::uint64_t key_;
};

// The UTC day of a time, "YYYY-MM-DD", and the fraction of the day gone.
std::string dayOf(std::int64_t time, double& fraction) {
  const std::int64_t days = (time >= 0 ? time : time - 86399) / 86400;
  fraction = double(time - days * 86400) / 86400.0;
  // The civil date of a day count (the inverse of daysSinceEpoch).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  const long long year = yearOfEra + era * 400 + (month <= 2);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d", year, month, day);
  return text;
}

// A dashed vertical line and the new share at each change that falls on a charted day.
std::string shareChangeMarks(const std::vector<ShareChange>& changes, const std::vector<std::string>& days, int width,
                             int height, int margin) {
  std::string marks;
  for (const ShareChange& change : changes) {
    double fraction = 0;
    const auto day = std::find(days.begin(), days.end(), dayOf(change.time, fraction));
    if (day == days.end()) continue;
    const double step = days.size() < 2 ? 0.0 : double(width - 2 * margin) / double(days.size() - 1);
    const double x = std::min(double(width - margin), margin + step * (double(day - days.begin()) + fraction));
    char label[32];
    std::snprintf(label, sizeof label, change.share == 0 ? "halt" : "%.6g%%", change.share);
    char text[256];
    std::snprintf(text, sizeof text,
                  "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" stroke-dasharray=\"4 3\"/>"
                  "<text x=\"%.1f\" y=\"%d\" font-size=\"10\">%s</text>\n",
                  x, margin, x, height - margin, change.share == 0 ? "#d62728" : "#777", x + 2, margin + 8,
                  label);
    marks += text;
  }
  return marks;
}

}  // namespace

std::string reportSender(const std::string& address) {
  const auto isIpv4 = [](const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
  };
  if (address.find(':') == std::string::npos) return isIpv4(address) ? address : "";
  // An IPv4 client of a socket that takes both families.
  if (address.compare(0, 7, "::ffff:") == 0 && isIpv4(address.substr(7))) return address.substr(7);
  // Up to eight groups of up to four hexadecimal digits; one "::" stands for the zero groups left out.
  const auto groupsOf = [](const std::string& part, std::vector<std::string>& groups) {
    for (std::size_t start = 0; !part.empty();) {
      const std::size_t end = std::min(part.find(':', start), part.size());
      const std::string group = part.substr(start, end - start);
      if (group.empty() || group.size() > 4 || group.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
      }
      groups.push_back(group);
      if (end == part.size()) break;
      start = end + 1;
    }
    return true;
  };
  const std::size_t gap = address.find("::");
  std::vector<std::string> head, tail;
  if ((gap != std::string::npos && address.find("::", gap + 1) != std::string::npos) ||
      !groupsOf(address.substr(0, gap), head) ||
      (gap != std::string::npos && !groupsOf(address.substr(gap + 2), tail)) ||
      (gap == std::string::npos ? head.size() != 8 : head.size() + tail.size() > 7)) {
    return "";
  }
  head.resize(8 - tail.size(), "0");
  head.insert(head.end(), tail.begin(), tail.end());
  std::string network;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t digits = head[i].find_first_not_of('0');
    network += (digits == std::string::npos ? "0" : head[i].substr(digits)) + ":";
  }
  for (char& c : network) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return network + ":/64";
}

bool readHealthLog(const std::filesystem::path& log, const std::set<std::string>& held,
                   std::vector<ReleaseHealth>& releases, std::string& error, const HealthWindow& window) {
  std::ifstream in(log, std::ios::binary);
  if (!in) {
    error = "cannot read " + log.string();
    return false;
  }
  std::map<std::string, ReleaseHealth> found;
  std::map<std::string, std::unordered_map<std::uint64_t, std::uint8_t>> senders;  // release -> sender -> bits
  std::unordered_set<std::uint64_t> counted;
  const Fingerprint fingerprint;
  std::string text;
  HealthRequest request;
  while (std::getline(in, text)) {
    if (!readHealthRequest(text, request) || request.time < window.since || request.time > window.until) continue;
    const std::string release = queryValue(request.query, "release");
    if (held.count(release) == 0) continue;
    const Outcome outcome = outcomeOf(request.query);
    senders[release][fingerprint(request.sender)] |= senderBits(outcome);
    const std::string key = request.sender + "\n" + release + "\n" + request.day + "\n";
    if (!counted.insert(fingerprint(key + char('0' + static_cast<int>(outcome)))).second) continue;
    ReleaseHealth& health = found[release];
    health.release = release;
    count(health.total, outcome);
    count(health.byDay[request.day], outcome);
  }
  if (in.bad()) {
    error = "cannot read " + log.string();
    return false;
  }
  releases.clear();
  for (auto& [id, health] : found) {
    for (const auto& [sender, bits] : senders[id]) {
      health.senders.updates += (bits & kTried) != 0;
      health.senders.bad += (bits & kWentWrong) != 0;
    }
    releases.push_back(std::move(health));
  }
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

std::string healthHtml(const std::vector<ReleaseHealth>& releases, const std::vector<ShareChange>& changes) {
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
    page += shareChangeMarks(changes, days, width, height, margin);
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
