#include "platform/system_proxy.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "platform/text.h"

namespace platform {

namespace {

// Texts that WinHTTP allocates for its caller.
struct GlobalFreeDeleter {
  void operator()(wchar_t* text) const { GlobalFree(text); }
};
using WinHttpText = std::unique_ptr<wchar_t, GlobalFreeDeleter>;

struct WinHttpCloser {
  void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using WinHttpHandle = std::unique_ptr<void, WinHttpCloser>;

std::string takeText(wchar_t* text) {
  WinHttpText owner(text);
  return owner ? toUtf8(owner.get()) : std::string();
}

std::string winHttpErrorText(DWORD code) { return "WinHTTP 错误 " + std::to_string(code); }

struct Answer {
  bool found = false;
  std::string value;
  std::string errorText;
};

// WPAD and PAC calls block for as long as name resolution or the script's server take, with
// no time limit of their own: they run on a thread of their own, which is left to finish
// alone when it is late (it owns everything it touches).
Answer runBounded(int timeoutMs, std::function<Answer()> work) {
  std::packaged_task<Answer()> task(std::move(work));
  std::future<Answer> answer = task.get_future();
  std::thread(std::move(task)).detach();
  if (answer.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
    return {false, {}, "超过 " + std::to_string(timeoutMs) + " 毫秒未完成"};
  }
  return answer.get();
}

Answer proxyForUrl(const std::wstring& scriptUrl, const std::wstring& url, bool logonAllowed) {
  WinHttpHandle session(
      WinHttpOpen(L"Kestrun/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return {false, {}, winHttpErrorText(GetLastError())};
  WINHTTP_AUTOPROXY_OPTIONS options{};
  options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
  options.lpszAutoConfigUrl = scriptUrl.c_str();
  WINHTTP_PROXY_INFO info{};
  BOOL found = WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info);
  // A script server that asks who is calling gets the logged-on user only where WinHTTP's own
  // autologon policy would send it (the intranet), and never before it asks.
  if (!found && logonAllowed && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
    options.fAutoLogonIfChallenged = TRUE;
    found = WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info);
  }
  if (!found) return {false, {}, winHttpErrorText(GetLastError())};
  std::string proxies = takeText(info.lpszProxy);
  takeText(info.lpszProxyBypass);
  if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) proxies.clear();
  return {true, proxies, {}};
}

}  // namespace

bool readSystemProxySettings(SystemProxySettings& settings) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return false;
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.autoConfigUrl = takeText(config.lpszAutoConfigUrl);
  settings.proxy = takeText(config.lpszProxy);
  settings.bypass = takeText(config.lpszProxyBypass);
  return settings.autoDetect || !settings.autoConfigUrl.empty() || !settings.proxy.empty();
}

bool detectProxyAutoConfigUrl(int timeoutMs, std::string& scriptUrl) {
  const Answer answer = runBounded(timeoutMs, [] {
    wchar_t* found = nullptr;
    if (!WinHttpDetectAutoProxyConfigUrl(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &found)) {
      return Answer{false, {}, winHttpErrorText(GetLastError())};
    }
    std::string text = takeText(found);
    return Answer{!text.empty(), text, {}};
  });
  if (answer.found) scriptUrl = answer.value;
  return answer.found;
}

bool runProxyAutoConfig(const std::string& scriptUrl, const std::string& url, int timeoutMs, bool logonAllowed,
                        std::string& proxies, std::string& errorText) {
  const std::wstring wideScript = fromUtf8(scriptUrl);
  const std::wstring wideUrl = fromUtf8(url);
  const Answer answer = runBounded(timeoutMs, [wideScript, wideUrl, logonAllowed] {
    return proxyForUrl(wideScript, wideUrl, logonAllowed);
  });
  if (!answer.found) {
    errorText = answer.errorText;
    return false;
  }
  proxies = answer.value;
  return true;
}

bool proxyLogonWithCurrentUser() { return true; }

}  // namespace platform
