#include "platform/system_proxy.h"

// Linux has no system proxy setting of its own: the HTTP library reads http_proxy,
// https_proxy, all_proxy and no_proxy itself.
namespace platform {

bool readSystemProxySettings(SystemProxySettings&) { return false; }

bool detectProxyAutoConfigUrl(int, std::string&) { return false; }

bool runProxyAutoConfig(const std::string&, const std::string&, int, bool, std::string&, std::string& errorText) {
  errorText = "此系统不运行 PAC 脚本";
  return false;
}

bool proxyLogonWithCurrentUser() { return false; }

}  // namespace platform
