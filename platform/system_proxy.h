#pragma once

#include <string>

namespace platform {

// The current user's proxy settings as Windows programs find them (Internet Settings). The
// proxy and bypass texts are in WinHTTP's form: "host:port", "http=a:1;https=b:2",
// "*.corp.example;<local>".
struct SystemProxySettings {
  bool autoDetect = false;    // look for a PAC script through WPAD
  std::string autoConfigUrl;  // the PAC script's address; empty: none
  std::string proxy;          // the manual proxy; empty: none
  std::string bypass;         // the manual proxy's bypass list
};

// Reads the user's settings. False when the system keeps none (always on Linux, where the
// proxy environment variables, read by the HTTP library itself, are the only setting).
bool readSystemProxySettings(SystemProxySettings& settings);

// Finds the address of the network's PAC script through WPAD (DHCP, then DNS), giving up
// after timeoutMs. False when there is none or it was not found in time.
bool detectProxyAutoConfigUrl(int timeoutMs, std::string& scriptUrl);

// Runs the PAC script at scriptUrl for `url`, giving up after timeoutMs. True with `proxies`
// the answer in WinHTTP's form (empty: direct); false with errorText when the script could
// not be fetched or run. With logonAllowed, a script server that asks who is calling gets the
// logged-on user's credentials; without it, it gets none.
bool runProxyAutoConfig(const std::string& scriptUrl, const std::string& url, int timeoutMs, bool logonAllowed,
                        std::string& proxies, std::string& errorText);

// Whether the HTTP library can answer a proxy's challenge with the logged-on user's own
// credentials (Negotiate and NTLM through SSPI on Windows).
bool proxyLogonWithCurrentUser();

}  // namespace platform
