#include "update/proxy_choice.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "log/launcher_log.h"
#include "names/ascii_case.h"
#include "platform/text.h"

namespace {

// WPAD asks DHCP and DNS, which may take seconds on a network that has no WPAD at all; a PAC
// script is one small file. Both are looked for once per run.
constexpr int kDetectTimeoutMs = 3000;
constexpr int kScriptTimeoutMs = 5000;

// The non-empty items of `text` between any of the separator characters.
std::vector<std::string> splitItems(const std::string& text, const char* separators) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find_first_of(separators, start), text.size());
    const std::string item = platform::trimmedBlanks(text.substr(start, end - start));
    if (!item.empty()) items.push_back(item);
    start = end + 1;
  }
  return items;
}

std::string withoutScheme(const std::string& address) {
  const std::size_t at = address.find("://");
  return at == std::string::npos ? address : address.substr(at + 3);
}

// '*' matches any text, letters in either case.
bool wildcardMatches(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    return wildcardMatches(pattern + 1, text) || (*text != '\0' && wildcardMatches(pattern, text + 1));
  }
  return *text != '\0' && names::lowerAscii(*pattern) == names::lowerAscii(*text) &&
         wildcardMatches(pattern + 1, text + 1);
}

// "10.*" or "192.168.*" as a range; empty when the entry is not such a prefix.
std::string addressRange(const std::string& entry) {
  if (entry.size() < 3 || entry.compare(entry.size() - 2, 2, ".*") != 0) return {};
  const std::string prefix = entry.substr(0, entry.size() - 2);
  const std::vector<std::string> parts = splitItems(prefix, ".");
  if (parts.empty() || parts.size() > 3 || prefix.find_first_not_of("0123456789.") != std::string::npos) return {};
  std::string range = prefix;
  for (std::size_t part = parts.size(); part < 4; ++part) range += ".0";
  return range + "/" + std::to_string(parts.size() * 8);
}

// One bypass entry in the library's no-proxy form, which knows no ports; empty when the form
// cannot say it.
std::string noProxyEntry(const std::string& item) {
  std::string entry = names::lowerAscii(withoutScheme(item));
  const std::size_t portAt = entry.rfind(':');
  if (portAt != std::string::npos && entry.find_first_of("[]") == std::string::npos) entry.erase(portAt);
  if (entry == "*") return entry;
  const std::string range = addressRange(entry);
  if (!range.empty()) return range;
  if (platform::startsWith(entry, "*.") && entry.find('*', 1) == std::string::npos) return entry.substr(1);
  return entry.find_first_of("*<>") == std::string::npos ? entry : std::string();
}

// The libcurl rule for no_proxy, for naming the proxy in the log: "*", or names that match
// themselves and their subdomains.
bool inNoProxyVariable(const std::string& noProxy, const std::string& host) {
  for (std::string entry : splitItems(noProxy, ", ")) {
    if (entry == "*") return true;
    if (entry[0] == '.') entry.erase(0, 1);
    entry = names::lowerAscii(entry);
    if (host == entry || platform::endsWith(host, "." + entry)) return true;
  }
  return false;
}

// The scheme, host and "host:port" of a URL, in lower case.
void splitUrl(const std::string& url, std::string& scheme, std::string& host, std::string& hostPort) {
  const std::size_t schemeEnd = url.find("://");
  scheme = schemeEnd == std::string::npos ? "http" : names::lowerAscii(url.substr(0, schemeEnd));
  const std::size_t start = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
  hostPort = url.substr(start, url.find_first_of("/?#", start) - start);
  const std::size_t at = hostPort.rfind('@');
  if (at != std::string::npos) hostPort.erase(0, at + 1);
  hostPort = names::lowerAscii(hostPort);
  const std::size_t portAt = hostPort.rfind(':');
  const bool hasPort = portAt != std::string::npos && hostPort.find(']', portAt) == std::string::npos;
  host = hasPort ? hostPort.substr(0, portAt) : hostPort;
  if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
}

bool hasCredentials(const std::string& proxy) { return withoutCredentials(proxy) != proxy; }

}  // namespace

std::string proxyForScheme(const std::string& proxies, const std::string& scheme) {
  std::string socksFallback;
  for (const std::string& item : splitItems(proxies, ";")) {
    const std::size_t equals = item.find('=');
    if (equals != std::string::npos) {
      const std::string itemScheme = names::lowerAscii(platform::trimmedBlanks(item.substr(0, equals)));
      const std::string address = platform::trimmedBlanks(item.substr(equals + 1));
      if (address.empty()) continue;
      if (itemScheme == scheme) return address;
      if (itemScheme == "socks" && socksFallback.empty()) socksFallback = "socks4://" + address;
      continue;
    }
    // A PAC answer ("PROXY a:1", "DIRECT") or a plain address list ("a:1 b:2").
    const std::vector<std::string> words = splitItems(item, " \t");
    const std::string keyword = names::upperAscii(words[0]);
    if (keyword == "DIRECT") return {};
    if (words.size() < 2) return words[0];
    if (keyword == "PROXY" || keyword == "HTTP") return words[1];
    if (keyword == "HTTPS") return "https://" + words[1];
    if (keyword == "SOCKS" || keyword == "SOCKS4") return "socks4://" + words[1];
    if (keyword == "SOCKS5") return "socks5://" + words[1];
    return words[0];
  }
  return socksFallback;
}

bool bypassMatches(const std::string& bypass, const std::string& host, const std::string& hostPort) {
  for (const std::string& item : splitItems(bypass, "; ,\t")) {
    if (names::lowerAscii(item) == "<local>") {
      if (host.find('.') == std::string::npos && host.find(':') == std::string::npos) return true;
      continue;
    }
    const std::string entry = withoutScheme(item);
    const bool withPort = entry.find(':') != std::string::npos && entry.find('[') == std::string::npos;
    if (wildcardMatches(entry.c_str(), (withPort ? hostPort : host).c_str())) return true;
  }
  return false;
}

std::string noProxyList(const std::string& bypass) {
  std::string list;
  for (const std::string& item : splitItems(bypass, "; ,\t")) {
    const std::string entry = noProxyEntry(item);
    if (!entry.empty()) list += (list.empty() ? "" : ",") + entry;
  }
  return list;
}

std::string withoutCredentials(const std::string& proxy) {
  const std::size_t schemeEnd = proxy.find("://");
  const std::size_t start = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
  const std::size_t at = proxy.rfind('@', proxy.find('/', start));
  if (at == std::string::npos || at < start) return proxy;
  return proxy.substr(0, start) + proxy.substr(at + 1);
}

std::string proxyLogText(const ProxyRoute& route) {
  static const char* const kSources[] = {"无", "环境变量", "手动设置", "PAC 脚本", "WPAD 自动检测的 PAC 脚本"};
  std::string text = "网络代理：" + (route.proxy.empty() ? std::string("直连") : withoutCredentials(route.proxy));
  text += std::string("（来源：") + kSources[static_cast<int>(route.source)];
  if (!route.origin.empty()) text += " " + withoutCredentials(route.origin);
  if (!route.note.empty()) text += "；" + route.note;
  return text + "）";
}

std::string proxyAuthenticationFailedText(const std::string& proxy) {
  return "代理服务器身份验证失败：" + withoutCredentials(proxy) + "（HTTP 407）";
}

ProxySystem systemProxySources() {
  ProxySystem system;
  system.environment = [](const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
  };
  system.readSettings = platform::readSystemProxySettings;
  system.detectScript = platform::detectProxyAutoConfigUrl;
  system.runScript = platform::runProxyAutoConfig;
  system.logonWithCurrentUser = platform::proxyLogonWithCurrentUser();
  return system;
}

ProxyChoice::ProxyChoice(ProxySystem system, std::function<void(const std::string&)> log)
    : system_(std::move(system)), log_(log ? std::move(log) : [](const std::string& line) { logInfo(line); }) {}

ProxyRoute ProxyChoice::routeFor(const std::string& url) {
  std::string scheme, host, hostPort;
  splitUrl(url, scheme, host, hostPort);
  ProxyRoute route;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string key = scheme + "://" + hostPort;
    const auto known = routes_.find(key);
    if (known != routes_.end()) return known->second;
    route = environmentRoute(scheme, host);
    if (route.source == ProxySource::None) route = systemRoute(scheme, host, hostPort, url);
    // Anyone on the network can answer for WPAD, and so name the proxy: that one gets no logon.
    route.logonWithCurrentUser = system_.logonWithCurrentUser && !route.proxy.empty() && !hasCredentials(route.proxy) &&
                                 route.source != ProxySource::AutoDetect;
    routes_[key] = route;
    if (route.source == ProxySource::None || logged_) return route;
    logged_ = true;
  }
  log_(proxyLogText(route));
  return route;
}

// The variables libcurl reads, in its order: the scheme's own (upper case only beyond http,
// which a CGI program's environment could set from a request header), then all_proxy.
ProxyRoute ProxyChoice::environmentRoute(const std::string& scheme, const std::string& host) {
  ProxyRoute route;
  const std::string own = scheme + "_proxy";
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    if (!system_.environment(name).empty()) route.source = ProxySource::Environment;
  }
  if (route.source == ProxySource::None) return route;
  std::vector<std::string> names = {own};
  if (scheme != "http") names.push_back(names::upperAscii(own));
  names.insert(names.end(), {"all_proxy", "ALL_PROXY"});
  for (const std::string& name : names) {
    const std::string value = system_.environment(name.c_str());
    if (value.empty()) continue;
    std::string noProxy = system_.environment("no_proxy");
    if (noProxy.empty()) noProxy = system_.environment("NO_PROXY");
    if (inNoProxyVariable(noProxy, host)) break;
    route.proxy = value;
    route.origin = name;
    break;
  }
  return route;
}

ProxyRoute ProxyChoice::systemRoute(const std::string& scheme, const std::string& host, const std::string& hostPort,
                                    const std::string& url) {
  if (!settings_) {
    platform::SystemProxySettings settings;
    settings_ = system_.readSettings(settings) ? settings : platform::SystemProxySettings{};
  }
  const platform::SystemProxySettings& settings = *settings_;
  ProxyRoute route;
  std::string proxies;
  std::string note;
  if (settings.autoDetect && !detectedScript_) {
    std::string found;
    detectedScript_ = system_.detectScript(kDetectTimeoutMs, found) ? found : std::string();
  }
  // As Windows does: a script found through WPAD first, then the script's address, then the
  // manual proxy.
  const std::pair<ProxySource, std::string> scripts[] = {
      {ProxySource::AutoDetect, settings.autoDetect ? *detectedScript_ : std::string()},
      {ProxySource::AutoConfig, settings.autoConfigUrl}};
  for (const auto& [source, scriptUrl] : scripts) {
    if (scriptUrl.empty()) continue;
    route.source = source;
    route.origin = scriptUrl;
    if (runScript(scriptUrl, source == ProxySource::AutoDetect, url, proxies, note)) {
      route.setProxy = true;
      route.proxy = proxyForScheme(proxies, scheme);
      route.note.clear();
      return route;
    }
    route.note = "未能运行：" + note;
  }
  if (!settings.proxy.empty()) {
    if (!route.note.empty()) route.note = "PAC 脚本 " + withoutCredentials(route.origin) + " " + route.note;
    route.source = ProxySource::Manual;
    route.origin.clear();
    route.setProxy = true;
    route.noProxy = noProxyList(settings.bypass);
    if (bypassMatches(settings.bypass, host, hostPort)) {
      route.note += route.note.empty() ? "在绕过列表中" : "，在绕过列表中";
    } else {
      route.proxy = proxyForScheme(settings.proxy, scheme);
    }
    return route;
  }
  // A script that could not run leaves the request direct, as Windows does; said in the log.
  route.setProxy = route.source != ProxySource::None;
  return route;
}

bool ProxyChoice::runScript(const std::string& scriptUrl, bool foundThroughWpad, const std::string& url,
                            std::string& proxies, std::string& note) {
  const auto failed = failedScripts_.find(scriptUrl);
  if (failed != failedScripts_.end()) {
    note = failed->second;
    return false;
  }
  std::string scheme, host, hostPort;
  splitUrl(scriptUrl, scheme, host, hostPort);
  // The address of a script found through WPAD ("http://wpad/wpad.dat") is whatever answers for
  // that name on the network, so it is never the intranet, whatever the bypass list says.
  const bool intranet = !foundThroughWpad && bypassMatches(settings_->bypass, host, hostPort);
  if (system_.runScript(scriptUrl, url, kScriptTimeoutMs, intranet, proxies, note)) return true;
  failedScripts_[scriptUrl] = note;
  return false;
}
