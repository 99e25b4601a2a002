// The GET into memory, on libcurl's easy interface: a fresh handle per call on the run's
// shared connections, a fixed option list, and one judgement of library result and HTTP status.
#include "update/http_transfer.h"

#include <curl/curl.h>

#include <new>
#include <stdexcept>
#include <string>

#include "update/curl_easy_handle.h"
#include "update/proxy_options.h"
#include "update/transfer_options.h"

namespace {

// The body of a transfer into memory, its bound, and whether it was cut there.
struct MemoryBody {
  std::string* text;
  std::size_t limit;
  bool tooLarge = false;
};

// Appends every chunk to the body. A body that would pass the bound, or cannot grow, ends the
// transfer with the library's write error instead of letting the exception cross the C
// library. The room grows by doubling, but never past the bound.
size_t memorySink(char* data, size_t size, size_t count, void* target) {
  auto* body = static_cast<MemoryBody*>(target);
  const size_t bytes = size * count;
  std::string& text = *body->text;
  if (bytes > body->limit - text.size()) {
    body->tooLarge = true;
    return 0;
  }
  try {
    if (text.size() + bytes > text.capacity() && text.capacity() > body->limit / 2) {
      // The string's own growth would double past the bound: the last step goes to it exactly.
      std::string bounded;
      bounded.reserve(body->limit);
      bounded.append(text);
      text.swap(bounded);
    }
    text.append(data, bytes);
  } catch (const std::bad_alloc&) {
    return 0;
  } catch (const std::length_error&) {
    return 0;
  }
  return bytes;
}

}  // namespace

bool httpGetToString(const TransferContext& context, const std::string& url, std::string& body,
                     Failure& failure, std::size_t maxBytes) {
  std::string& errorText = failure.text;
  const auto failed = [&failure](FailureKind kind) {
    failure.kind = kind;
    return false;
  };
  CurlEasyHandle handle = makeCurlEasyHandle();
  if (!handle) {
    errorText = "curl 初始化失败";
    return failed(FailureKind::setUp);
  }
  body.clear();

  MemoryBody sink{&body, maxBytes};
  OptionSetter set(handle.get());
  RedirectHops hops{url};
  setTransferOptions(set, context, url, hops);
  set(CURLOPT_WRITEFUNCTION, &memorySink);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
  // A declared length above the bound is refused before the body is read.
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));

  CURLcode result = set.result();
  if (result == CURLE_OK) {
    do {
      result = curl_easy_perform(handle.get());
    } while (followRedirect(context, hops, result));
  }
  const long responseCode = responseCodeOf(handle.get());
  if (proxyAuthenticationFailed(handle.get(), errorText)) return failed(FailureKind::proxy);
  handle.reset();

  if (sink.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
    errorText = bodyTooLargeText(maxBytes);
    return failed(FailureKind::tooLarge);
  }
  if (result != CURLE_OK) {
    errorText = curl_easy_strerror(result);
    return failed(FailureKind::network);
  }
  return judgeStatus(responseCode, errorText) || failed(FailureKind::status);
}
