#include "update/transfer_options.h"

#include <filesystem>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "update/transfer_share.h"
#include "update/update_checker.h"

namespace {

constexpr const char* kUserAgent = "Kestrun/1.0";
// The limit that libcurl itself applies since version 8.3.
constexpr long kMaxRedirects = 30;

bool caBundleExists(const std::filesystem::path& caBundlePath) {
  if (caBundlePath.empty()) return false;
  platform::ItemKind kind = platform::ItemKind::Missing;
  return !platform::queryItemKind(caBundlePath, true, kind) && kind != platform::ItemKind::Missing;
}

bool isHttpsAddress(const std::string& url) { return platform::lowerAscii(url.substr(0, 6)) == "https:"; }

}  // namespace

void setTransferOptions(OptionSetter& set, UpdateChecker& checker, const std::string& url) {
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_FOLLOWLOCATION, 1L);
  // A redirect never leaves TLS once the server's address uses it; a plain address may still
  // be sent on to TLS.
  set(CURLOPT_REDIR_PROTOCOLS_STR, isHttpsAddress(url) ? "https" : "http,https");
  // Older libraries follow without limit, so a redirect loop would never end.
  set(CURLOPT_MAXREDIRS, kMaxRedirects);
  set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(checker.connectTimeoutSeconds));
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_USERAGENT, kUserAgent);
  if (CURLSH* share = checker.transferShare().handle()) set(CURLOPT_SHARE, share);

  if (caBundleExists(checker.caBundlePath)) set(CURLOPT_CAINFO, platform::pathToUtf8(checker.caBundlePath).c_str());
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, checker.stallTimeoutSeconds);
}

bool judgeStatus(long responseCode, std::string& errorText) {
  if (responseCode < 400) return true;
  errorText = "HTTP " + std::to_string(responseCode);
  return false;
}

long responseCodeOf(CURL* handle) {
  long responseCode = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &responseCode);
  return responseCode;
}
