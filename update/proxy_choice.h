#pragma once

// Which proxy each request of a run goes through. The proxy environment variables decide
// when any of them is set (the HTTP library reads them itself); otherwise the user's system
// settings do, as Windows programs read them: a PAC script found through WPAD, a PAC script's
// address, or a manual proxy with its bypass list.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/system_proxy.h"

// Where a request's proxy setting came from.
enum class ProxySource { None, Environment, Manual, AutoConfig, AutoDetect };

// How one request reaches its server.
struct ProxyRoute {
  ProxySource source = ProxySource::None;  // None: nothing is set anywhere, nothing is changed
  bool setProxy = false;     // false: the library's own choice stands (no proxy option is set)
  std::string proxy;         // the proxy of this request; empty: direct
  std::string noProxy;       // hosts that a redirect reaches directly, in the library's form
  bool logonWithCurrentUser = false;  // answer the proxy's challenge as the logged-on user
  std::string origin;        // the variable or the script's address, for the log line
  std::string note;          // why the setting was not followed as it stands, for the log line
};

// The proxy that a WinHTTP proxy text gives for a request of `scheme` ("http", "https"): the
// first that applies of "a:1", "a:1;b:2", "http=a:1;https=b:2", or a PAC answer such as
// "PROXY a:1; DIRECT". Empty means direct.
std::string proxyForScheme(const std::string& proxies, const std::string& scheme);

// Whether `host` (or "host:port") is in a Windows bypass list: names separated by ';', ','
// or blanks, '*' matching any text, "<local>" every name without a dot.
bool bypassMatches(const std::string& bypass, const std::string& host, const std::string& hostPort);

// The bypass list in the library's no-proxy form: names, "*.x" as ".x", address prefixes such
// as "10.*" as ranges ("10.0.0.0/8"). What the form cannot say ("<local>", other wildcards)
// is left out; bypassMatches decides those for the request's own host.
std::string noProxyList(const std::string& bypass);

// A proxy's address without "user:password@", for log lines and error texts.
std::string withoutCredentials(const std::string& proxy);

// The run's one log line about its proxy, and the error text of a proxy (its address) that
// refused the logon.
std::string proxyLogText(const ProxyRoute& route);
std::string proxyAuthenticationFailedText(const std::string& proxy);

// What the choice reads from the system; the tests give their own.
struct ProxySystem {
  std::function<std::string(const char*)> environment;
  std::function<bool(platform::SystemProxySettings&)> readSettings;
  std::function<bool(int, std::string&)> detectScript;
  // (script address, request address, time limit, logon allowed, proxies, why it failed)
  std::function<bool(const std::string&, const std::string&, int, bool, std::string&, std::string&)> runScript;
  bool logonWithCurrentUser = false;
};
ProxySystem systemProxySources();

// The proxy choice of one run: the settings are read once, each scheme and host is looked up
// once (a "direct" answer and a failed script included), and the first lookup that finds a
// setting writes one INFO line. A PAC script's server gets the logged-on user's credentials
// only when it is on the intranet as WinHTTP's autologon policy sees it: on the bypass list.
// A script found through WPAD, and the proxy it names, get no credentials at all.
// Safe to call from several threads.
class ProxyChoice {
 public:
  explicit ProxyChoice(ProxySystem system = systemProxySources(),
                       std::function<void(const std::string&)> log = nullptr);
  ProxyChoice(const ProxyChoice&) = delete;
  ProxyChoice& operator=(const ProxyChoice&) = delete;

  ProxyRoute routeFor(const std::string& url);

 private:
  ProxyRoute environmentRoute(const std::string& scheme, const std::string& host);
  ProxyRoute systemRoute(const std::string& scheme, const std::string& host, const std::string& hostPort,
                         const std::string& url);
  bool runScript(const std::string& scriptUrl, bool foundThroughWpad, const std::string& url, std::string& proxies,
                 std::string& note);

  ProxySystem system_;
  std::function<void(const std::string&)> log_;
  std::mutex mutex_;
  std::optional<platform::SystemProxySettings> settings_;  // empty settings: none
  std::optional<std::string> detectedScript_;              // empty text: WPAD found none
  std::map<std::string, std::string> failedScripts_;       // script address -> why
  std::map<std::string, ProxyRoute> routes_;               // "scheme://host:port" -> route
  bool logged_ = false;
};
