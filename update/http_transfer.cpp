// The two GET transfers of the update client, on libcurl's easy interface: a fresh handle per
// call, a fixed option list, and one judgement of library result and HTTP status.
#include <curl/curl.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/sha256_hex.h"
#include "update/curl_easy_handle.h"
#include "update/http_transfer.h"
#include "update/update_checker.h"

namespace {

constexpr const char* kUserAgent = "Kestrun/1.0";
// The limit that libcurl itself applies since version 8.3.
constexpr long kMaxRedirects = 30;

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

// The destination of a transfer into a file, the digest fed on the way (optional), and the
// bound on its bytes (negative: none).
struct FileBody {
  platform::FileWriter* file;
  Sha256Stream* hash;
  std::int64_t limit;
  std::uint64_t written = 0;
  std::uint64_t oversized = 0;  // the bytes received when the bound was passed, else 0
};

// Writes every chunk to the destination; 0 tells the library that the disk refused it, or
// that the server sent more than the entry's size, which must not fill the disk first.
size_t fileSink(char* data, size_t size, size_t count, void* target) {
  auto* body = static_cast<FileBody*>(target);
  const size_t bytes = size * count;
  if (body->limit >= 0 && bytes > static_cast<std::uint64_t>(body->limit) - body->written) {
    body->oversized = body->written + bytes;
    return 0;
  }
  if (body->file->write(data, bytes)) return 0;
  if (body->hash) body->hash->update(data, bytes);
  body->written += bytes;
  return bytes;
}

// Called by the library now and then, also while nothing arrives; the counters are of no
// interest because progress is counted in files, not bytes.
int cancelCallback(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancelCheck = static_cast<const std::function<bool()>*>(client);
  return cancelCheck && *cancelCheck && (*cancelCheck)() ? 1 : 0;
}

// Sets options one after another and remembers the first refusal, so a transfer is never
// started with half of its settings.
class OptionSetter {
 public:
  explicit OptionSetter(CURL* handle) : handle_(handle) {}

  template <typename Value>
  void operator()(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(handle_, option, value);
  }
  CURLcode result() const { return result_; }

 private:
  CURL* handle_;
  CURLcode result_ = CURLE_OK;
};

bool caBundleExists(const std::filesystem::path& caBundlePath) {
  if (caBundlePath.empty()) return false;
  platform::ItemKind kind = platform::ItemKind::Missing;
  return !platform::queryItemKind(caBundlePath, true, kind) && kind != platform::ItemKind::Missing;
}

bool isHttpsAddress(const std::string& url) { return platform::lowerAscii(url.substr(0, 6)) == "https:"; }

// Address, redirects and their limit, connection limit, no signals, user agent.
void setRequestOptions(OptionSetter& set, const std::string& url, std::int32_t connectTimeoutSeconds) {
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_FOLLOWLOCATION, 1L);
  // A redirect never leaves TLS once the server's address uses it; a plain address may still
  // be sent on to TLS.
  set(CURLOPT_REDIR_PROTOCOLS_STR, isHttpsAddress(url) ? "https" : "http,https");
  // Older libraries follow without limit, so a redirect loop would never end.
  set(CURLOPT_MAXREDIRS, kMaxRedirects);
  set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeoutSeconds));
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_USERAGENT, kUserAgent);
}

// The optional CA bundle, then the bound on a transfer that has stopped moving.
void setSecurityAndStallOptions(OptionSetter& set, const std::filesystem::path& caBundlePath, long stallSeconds) {
  if (caBundleExists(caBundlePath)) set(CURLOPT_CAINFO, platform::pathToUtf8(caBundlePath).c_str());
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, stallSeconds);
}

// Runs the configured transfer and reads the final status; 0 when none was received.
CURLcode perform(CURL* handle, long& responseCode) {
  const CURLcode result = curl_easy_perform(handle);
  responseCode = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &responseCode);
  return result;
}

bool judgeStatus(long responseCode, std::string& errorText) {
  if (responseCode < 400) return true;
  errorText = "HTTP " + std::to_string(responseCode);
  return false;
}

}  // namespace

bool UpdateChecker::httpGetToString(const std::string& url, std::string& body, std::string& errorText,
                                    std::size_t maxBytes) {
  CurlEasyHandle handle = makeCurlEasyHandle();
  if (!handle) {
    errorText = "curl 初始化失败";
    return false;
  }
  body.clear();

  MemoryBody sink{&body, maxBytes};
  OptionSetter set(handle.get());
  setRequestOptions(set, url, connectTimeoutSeconds);
  set(CURLOPT_WRITEFUNCTION, &memorySink);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
  // A declared length above the bound is refused before the body is read.
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));
  setSecurityAndStallOptions(set, caBundlePath, stallTimeoutSeconds);

  long responseCode = 0;
  const CURLcode result = set.result() != CURLE_OK ? set.result() : perform(handle.get(), responseCode);
  handle.reset();

  if (sink.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
    errorText = bodyTooLargeText(maxBytes);
    return false;
  }
  if (result != CURLE_OK) {
    errorText = curl_easy_strerror(result);
    return false;
  }
  return judgeStatus(responseCode, errorText);
}

bool UpdateChecker::httpGetToFile(const std::string& url, const std::filesystem::path& destination,
                                  std::string& errorText, Sha256Stream* contentHash, std::int64_t maxBytes) {
  const std::string writeFailedText = "无法写入文件：" + platform::pathToUtf8(destination);
  platform::FileWriter file;
  if (file.open(destination, platform::FileWriter::Mode::Truncate)) {
    errorText = writeFailedText;
    return false;
  }
  CurlEasyHandle handle = makeCurlEasyHandle();
  if (!handle) {
    errorText = "curl 初始化失败";
    return false;
  }

  OptionSetter set(handle.get());
  setRequestOptions(set, url, connectTimeoutSeconds);
  set(CURLOPT_WRITEFUNCTION, &fileSink);
  FileBody sink{&file, contentHash, maxBytes};
  set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
  if (cancelCheck) {
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &cancelCallback);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&cancelCheck));
  }
  setSecurityAndStallOptions(set, caBundlePath, stallTimeoutSeconds);

  long responseCode = 0;
  const CURLcode result = set.result() != CURLE_OK ? set.result() : perform(handle.get(), responseCode);
  handle.reset();
  // The last bytes reach the disk only here; a full disk may first show itself now.
  const std::error_code closing = file.close();

  if (result == CURLE_ABORTED_BY_CALLBACK) {
    errorText = kCancelledText;
    return false;
  }
  // An error page larger than the file is still reported by its status.
  if (sink.oversized > 0) {
    if (!judgeStatus(responseCode, errorText)) return false;
    errorText = "文件超出清单大小：清单=" + std::to_string(maxBytes) + "，已收到=" + std::to_string(sink.oversized);
    return false;
  }
  if (result != CURLE_OK) {
    errorText = curl_easy_strerror(result);
    return false;
  }
  if (!judgeStatus(responseCode, errorText)) return false;
  if (closing) {
    errorText = writeFailedText;
    return false;
  }
  return true;
}
