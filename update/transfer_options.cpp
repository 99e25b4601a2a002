#include "update/transfer_options.h"

#include <filesystem>

#include "names/ascii_case.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "update/proxy_choice.h"
#include "update/proxy_options.h"
#include "update/transfer_share.h"

namespace {

constexpr const char* kUserAgent = "Kestrun/1.0";
// The limit that libcurl itself applies since version 8.3.
constexpr long kMaxRedirects = 30;

bool caBundleExists(const std::filesystem::path& caBundlePath) {
  if (caBundlePath.empty()) return false;
  platform::ItemKind kind = platform::ItemKind::Missing;
  return !platform::queryItemKind(caBundlePath, true, kind) && kind != platform::ItemKind::Missing;
}

bool isHttpsAddress(const std::string& url) { return names::lowerAscii(url.substr(0, 6)) == "https:"; }

bool isHttpAddress(const std::string& url) { return names::lowerAscii(url.substr(0, 5)) == "http:"; }

bool isRedirect(const RedirectHops& hops) {
  const long status = responseCodeOf(hops.handle);
  return status >= 300 && status <= 399 && !hops.location.empty();
}

// Ends a redirect at the blank line after its headers, so that its body is never taken for
// the file's. A new status line (after "100 Continue", or a proxy's tunnel) starts afresh.
// The value of `line` when it is the header `name` (lower case, with its colon).
bool headerValue(const std::string& line, const std::string& name, std::string& value) {
  if (names::lowerAscii(line.substr(0, name.size())) != name) return false;
  const std::size_t first = line.find_first_not_of(" \t", name.size());
  const std::size_t last = line.find_last_not_of(" \t\r\n");
  value = first == std::string::npos || last < first ? std::string() : line.substr(first, last - first + 1);
  return true;
}

size_t stopAtRedirect(char* data, size_t size, size_t count, void* target) {
  auto& hops = *static_cast<RedirectHops*>(target);
  const size_t bytes = size * count;
  // A server that sends endless headers ends a transfer that bounds them.
  hops.headerBytes += bytes;
  if (hops.maxHeaderBytes > 0 && hops.headerBytes > hops.maxHeaderBytes) return 0;
  const std::string line(data, bytes);
  if (headerValue(line, "location:", hops.location) || headerValue(line, "etag:", hops.etag) ||
      headerValue(line, "last-modified:", hops.lastModified) ||
      headerValue(line, "content-range:", hops.contentRange)) {
    return bytes;
  }
  if (line.compare(0, 5, "HTTP/") == 0) {
    hops.location.clear();
    hops.etag.clear();
    hops.lastModified.clear();
    hops.contentRange.clear();
  } else if (hops.followRedirects && line.find_first_not_of("\r\n") == std::string::npos && isRedirect(hops)) {
    return 0;
  }
  return bytes;
}

// The next hop's address: the Location header read against the hop it answered, as the
// library itself would follow it. Empty when it is no address.
std::string nextAddress(const RedirectHops& hops) {
  CURLU* address = curl_url();
  char* next = nullptr;
  if (address && curl_url_set(address, CURLUPART_URL, hops.currentUrl.c_str(), 0) == CURLUE_OK &&
      curl_url_set(address, CURLUPART_URL, hops.location.c_str(), CURLU_URLENCODE) == CURLUE_OK) {
    curl_url_get(address, CURLUPART_URL, &next, 0);
  }
  const std::string text = next ? next : "";
  curl_free(next);
  curl_url_cleanup(address);
  return text;
}

}  // namespace

void setTransferOptions(OptionSetter& set, const TransferContext& context, const std::string& url, RedirectHops& hops) {
  hops.handle = set.handle();
  hops.currentUrl = url;
  hops.location.clear();
  hops.headerBytes = 0;
  hops.followRedirects = context.followRedirects;
  hops.maxHeaderBytes = context.maxHeaderBytes;
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_HEADERFUNCTION, &stopAtRedirect);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&hops));
  set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(context.connectTimeoutSeconds));
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_USERAGENT, kUserAgent);
  if (CURLSH* share = context.share ? context.share->handle() : nullptr) set(CURLOPT_SHARE, share);
  setNetworkOptions(set, context.proxyChoice ? context.proxyChoice->routeFor(url) : ProxyRoute{});

  if (caBundleExists(context.caBundlePath)) set(CURLOPT_CAINFO, platform::pathToUtf8(context.caBundlePath).c_str());
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, context.stallTimeoutSeconds);
  if (context.requestTimeoutMilliseconds > 0) set(CURLOPT_TIMEOUT_MS, context.requestTimeoutMilliseconds);
}

bool followRedirect(const TransferContext& context, RedirectHops& hops, CURLcode& result) {
  if (!hops.followRedirects || result != CURLE_WRITE_ERROR || !isRedirect(hops)) return false;
  const std::string next = nextAddress(hops);
  if (next.empty()) {
    result = CURLE_URL_MALFORMAT;
    return false;
  }
  // The library's limit, which older libraries lack, so a redirect loop would never end.
  if (hops.followed == kMaxRedirects) {
    result = CURLE_TOO_MANY_REDIRECTS;
    return false;
  }
  // A redirect never leaves TLS once the server's address uses it; a plain address may still
  // be sent on to TLS.
  if (!isHttpsAddress(next) && (isHttpsAddress(hops.firstUrl) || !isHttpAddress(next))) {
    result = CURLE_UNSUPPORTED_PROTOCOL;
    return false;
  }
  ++hops.followed;
  OptionSetter set(hops.handle);
  setTransferOptions(set, context, next, hops);
  result = set.result();
  return result == CURLE_OK;
}

std::string rangeValidator(const RedirectHops& hops) {
  if (!hops.etag.empty() && hops.etag.compare(0, 2, "W/") != 0) return hops.etag;
  return hops.lastModified;
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
