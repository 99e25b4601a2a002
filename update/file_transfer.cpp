#include "update/file_transfer.h"

#include <functional>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/sha256_hex.h"
#include "update/proxy_options.h"
#include "update/transfer_options.h"
#include "update/update_checker.h"

namespace {

// Writes every chunk to the destination; 0 tells the library that the disk refused it, or
// that the server sent more than the entry's size, which must not fill the disk first.
size_t fileSink(char* data, size_t size, size_t count, void* target) {
  auto* body = static_cast<FileTransfer::Sink*>(target);
  const size_t bytes = size * count;
  if (body->consumer) {
    if (body->consumer(data, bytes)) return bytes;
    body->refused = true;
    return 0;
  }
  if (body->limit >= 0 && bytes > static_cast<std::uint64_t>(body->limit) - body->written) {
    body->oversized = body->written + bytes;
    return 0;
  }
  if (body->file.write(data, bytes)) return 0;
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

}  // namespace

bool FileTransfer::prepare(UpdateChecker& checker, const std::string& url, const std::filesystem::path& destination,
                           Sha256Stream* contentHash, std::int64_t maxBytes, std::string& errorText) {
  writeFailedText_ = "无法写入文件：" + platform::pathToUtf8(destination);
  if (sink_.file.open(destination, platform::FileWriter::Mode::Truncate)) {
    errorText = writeFailedText_;
    return false;
  }
  sink_.hash = contentHash;
  sink_.limit = maxBytes;
  return setUp(checker, url, errorText);
}

bool FileTransfer::prepare(UpdateChecker& checker, const std::string& url, Consumer consumer, std::string& errorText) {
  sink_.consumer = std::move(consumer);
  return setUp(checker, url, errorText);
}

bool FileTransfer::setUp(UpdateChecker& checker, const std::string& url, std::string& errorText) {
  handle_ = makeCurlEasyHandle();
  if (!handle_) {
    errorText = "curl 初始化失败";
    return false;
  }
  checker_ = &checker;
  hops_ = RedirectHops{url};
  OptionSetter set(handle_.get());
  setTransferOptions(set, checker, url, hops_);
  // Larger pieces than the default 16 KiB: an eighth of the receive calls and writes.
  set(CURLOPT_BUFFERSIZE, 128L * 1024);
  set(CURLOPT_WRITEFUNCTION, &fileSink);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&sink_));
  if (checker.cancelCheck) {
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &cancelCallback);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&checker.cancelCheck));
  }
  if (set.result() == CURLE_OK) return true;
  errorText = curl_easy_strerror(set.result());
  return false;
}

bool FileTransfer::followRedirect(CURLcode& result) {
  return ::followRedirect(*checker_, hops_, result);
}

bool FileTransfer::perform(std::string& errorText) {
  CURLcode result = CURLE_OK;
  do {
    result = curl_easy_perform(handle_.get());
  } while (followRedirect(result));
  return finish(result, errorText);
}

bool FileTransfer::finish(CURLcode result, std::string& errorText) {
  const long responseCode = responseCodeOf(handle_.get());
  const bool proxyRefused = proxyAuthenticationFailed(handle_.get(), errorText);
  handle_.reset();
  // The last bytes reach the disk only here; a full disk may first show itself now.
  const std::error_code closing = sink_.file.close();
  if (proxyRefused) return false;

  if (result == CURLE_ABORTED_BY_CALLBACK) {
    errorText = kCancelledText;
    return false;
  }
  // An error page refused by the consumer is reported by its status.
  if (sink_.refused && !judgeStatus(responseCode, errorText)) return false;
  // An error page larger than the file is still reported by its status.
  if (sink_.oversized > 0) {
    if (!judgeStatus(responseCode, errorText)) return false;
    errorText = "文件超出清单大小：清单=" + std::to_string(sink_.limit) + "，已收到=" + std::to_string(sink_.oversized);
    return false;
  }
  if (result != CURLE_OK) {
    errorText = curl_easy_strerror(result);
    return false;
  }
  if (!judgeStatus(responseCode, errorText)) return false;
  if (closing) {
    errorText = writeFailedText_;
    return false;
  }
  return true;
}
