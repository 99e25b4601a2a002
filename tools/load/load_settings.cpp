#include "tools/load/load_settings.h"

#include <algorithm>

namespace load {

namespace {

bool parseNumber(const std::string& text, long low, long high, long& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  value = std::stol(text);
  return value >= low && value <= high;
}

}  // namespace

bool isLoopbackBaseUrl(const std::string& url) {
  const std::string prefix = "http://127.0.0.1:";
  if (url.rfind(prefix, 0) != 0) return false;
  const std::size_t end = std::min(url.find('/', prefix.size()), url.size());
  const std::string port = url.substr(prefix.size(), end - prefix.size());
  long value = 0;
  return parseNumber(port, 1, 65535, value);
}

bool parseLoadSettings(const std::vector<std::string>& arguments, LoadSettings& settings,
                       std::string& error) {
  struct NumberOption {
    const char* name;
    long low;
    long high;
  };
  static const NumberOption numbers[] = {
      {"--clients", 1, kMaxClients},
      {"--files", 0, kMaxFilesPerClient},
      {"--max-requests", 1, kMaxRequests},
      {"--time-limit", 1, kMaxTimeLimitSeconds},
  };
  for (std::size_t i = 0; i < arguments.size(); i += 2) {
    const std::string& option = arguments[i];
    if (i + 1 >= arguments.size()) {
      error = option + " needs a value (or is unknown)";
      return false;
    }
    const std::string& value = arguments[i + 1];
    if (option == "--base") {
      settings.baseUrl = value;
      continue;
    }
    if (option == "--platform") {
      settings.platform = value;
      continue;
    }
    const auto number = std::find_if(std::begin(numbers), std::end(numbers),
                                     [&](const NumberOption& n) { return option == n.name; });
    if (number == std::end(numbers)) {
      error = "unknown option: " + option;
      return false;
    }
    long parsed = 0;
    if (!parseNumber(value, number->low, number->high, parsed)) {
      error = option + " needs a number from " + std::to_string(number->low) + " to " +
              std::to_string(number->high) + ": " + value;
      return false;
    }
    if (option == "--clients") settings.clients = static_cast<int>(parsed);
    if (option == "--files") settings.filesPerClient = static_cast<int>(parsed);
    if (option == "--max-requests") settings.maxRequests = parsed;
    if (option == "--time-limit") settings.timeLimitSeconds = static_cast<int>(parsed);
  }
  while (!settings.baseUrl.empty() && settings.baseUrl.back() == '/') settings.baseUrl.pop_back();
  if (!isLoopbackBaseUrl(settings.baseUrl)) {
    error = "--base must be http://127.0.0.1:PORT: \"" + settings.baseUrl + "\"";
    return false;
  }
  if (settings.platform.empty() ||
      settings.platform.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-") !=
          std::string::npos) {
    error = "bad platform: " + settings.platform;
    return false;
  }
  return true;
}

}  // namespace load
