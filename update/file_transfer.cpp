#include "update/file_transfer.h"

#include <functional>
#include <utility>

#include "names/ascii_case.h"
#include "platform/file_mapping.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/sha256_hex.h"
#include "update/file_transfer_state.h"
#include "update/proxy_options.h"

namespace {

// Whether a Content-Range value ("bytes 100-199/200") starts at `offset`.
bool rangeStartsAt(const std::string& contentRange, std::uint64_t offset) {
  const std::string prefix = "bytes " + std::to_string(offset) + "-";
  return names::lowerAscii(contentRange.substr(0, prefix.size())) == prefix;
}

// Decides at the first piece of the body where it goes; false ends the transfer. An error page
// never reaches the file, whose part must stay what the server once sent for it.
bool startBody(FileTransferSink& body) {
  const long status = responseCodeOf(body.hops->handle);
  if (status >= 400) {
    body.refused = true;
    return false;
  }
  if (body.resumeFrom > 0 && status == 206) {
    if (!rangeStartsAt(body.hops->contentRange, body.resumeFrom)) {
      body.partRefused = true;
      return false;
    }
    // The digest covers the whole file: the part first, then what follows.
    if (body.hash) {
      platform::FileMapping part;
      if (part.open(body.path) || part.size() < body.resumeFrom) {
        body.reopenFailed = true;
        return false;
      }
      body.hash->update(part.data(), static_cast<std::size_t>(body.resumeFrom));
    }
    body.resumed = true;
  } else if (body.resumeFrom > 0) {
    // Not the rest of the part: the file changed on the server, and this is all of it now.
    body.written = 0;
    if (body.file.close() || body.file.open(body.path, platform::FileWriter::Mode::Truncate)) {
      body.reopenFailed = true;
      return false;
    }
  }
  body.validator = rangeValidator(*body.hops);
  body.accepted = true;
  return true;
}

// Writes every chunk to the destination; 0 tells the library that the disk refused it, or
// that the server sent more than the entry's size, which must not fill the disk first.
size_t fileSink(char* data, size_t size, size_t count, void* target) {
  auto* body = static_cast<FileTransferSink*>(target);
  const size_t bytes = size * count;
  if (!body->consumer && !body->answered) {
    body->answered = true;
    if (!startBody(*body)) return 0;
  }
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

FileTransfer::FileTransfer() : state_(std::make_unique<State>()) {}

FileTransfer::~FileTransfer() = default;

bool FileTransfer::prepare(const TransferContext& context, const std::string& url,
                           const std::filesystem::path& destination, Sha256Stream* contentHash, std::int64_t maxBytes,
                           std::string& errorText, const ResumePoint& resume) {
  State& state = *state_;
  FileTransferSink& sink = state.sink;
  state.writeFailedText = "无法写入文件：" + platform::pathToUtf8(destination);
  const bool resuming = resume.offset > 0;
  if (sink.file.open(destination, resuming ? platform::FileWriter::Mode::Append : platform::FileWriter::Mode::Truncate)) {
    errorText = state.writeFailedText;
    return false;
  }
  sink.hash = contentHash;
  sink.limit = maxBytes;
  sink.hops = &state.hops;
  sink.path = destination;
  sink.resumeFrom = resume.offset;
  sink.written = resume.offset;
  if (!setUp(context, url, errorText)) return false;
  if (!resuming) return true;
  // If-Range: the rest only while the server's file is still the one the part came from.
  state.ifRange.reset(curl_slist_append(nullptr, ("If-Range: " + resume.validator).c_str()));
  OptionSetter set(state.handle.get());
  set(CURLOPT_RANGE, (std::to_string(resume.offset) + "-").c_str());
  set(CURLOPT_HTTPHEADER, state.ifRange.get());
  if (state.ifRange && set.result() == CURLE_OK) return true;
  errorText = state.ifRange ? curl_easy_strerror(set.result()) : "curl 初始化失败";
  return false;
}

bool FileTransfer::prepare(const TransferContext& context, const std::string& url, Consumer consumer,
                           std::string& errorText) {
  state_->sink.consumer = std::move(consumer);
  return setUp(context, url, errorText);
}

bool FileTransfer::setUp(const TransferContext& context, const std::string& url, std::string& errorText) {
  State& state = *state_;
  state.handle = makeCurlEasyHandle();
  if (!state.handle) {
    errorText = "curl 初始化失败";
    return false;
  }
  state.context = context;
  state.result = CURLE_FAILED_INIT;
  state.hops = RedirectHops{url};
  OptionSetter set(state.handle.get());
  setTransferOptions(set, state.context, url, state.hops);
  // Larger pieces than the default 16 KiB: an eighth of the receive calls and writes.
  set(CURLOPT_BUFFERSIZE, 128L * 1024);
  set(CURLOPT_WRITEFUNCTION, &fileSink);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&state.sink));
  if (state.context.cancelCheck) {
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &cancelCallback);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&state.context.cancelCheck));
  }
  if (set.result() == CURLE_OK) return true;
  errorText = curl_easy_strerror(set.result());
  return false;
}

bool FileTransfer::resumed() const { return state_->sink.resumed; }
bool FileTransfer::bodyAccepted() const { return state_->sink.accepted; }
const std::string& FileTransfer::validator() const { return state_->sink.validator; }
bool FileTransfer::partRefused() const { return state_->sink.partRefused; }

bool FileTransfer::finish(Failure& failure) {
  std::string& errorText = failure.text;
  const auto failed = [&failure](FailureKind kind) {
    failure.kind = kind;
    return false;
  };
  State& state = *state_;
  FileTransferSink& sink = state.sink;
  const CURLcode result = state.result;
  const long responseCode = responseCodeOf(state.handle.get());
  const bool proxyRefused = proxyAuthenticationFailed(state.handle.get(), errorText);
  state.handle.reset();
  // The last bytes reach the disk only here; a full disk may first show itself now.
  const std::error_code closing = sink.file.close();
  if (proxyRefused) return failed(FailureKind::proxy);

  if (result == CURLE_ABORTED_BY_CALLBACK) {
    failure = cancelledFailure();
    return false;
  }
  if (sink.partRefused) {
    errorText = "续传应答范围不符：" + state.hops.contentRange;
    return failed(FailureKind::partRefused);
  }
  if (sink.reopenFailed) {
    errorText = state.writeFailedText;
    return failed(FailureKind::local);
  }
  // Nothing can be made of a part whose range the server cannot serve.
  if (responseCode == 416) sink.partRefused = sink.resumeFrom > 0;
  // A file that changed on the server to no bytes at all: no body came to start it over.
  if (sink.resumeFrom > 0 && !sink.answered && result == CURLE_OK && responseCode == 200) {
    platform::FileWriter emptied;
    if (emptied.open(sink.path, platform::FileWriter::Mode::Truncate) || emptied.close()) {
      errorText = state.writeFailedText;
      return failed(FailureKind::local);
    }
    sink.validator = rangeValidator(state.hops);
    sink.accepted = true;
  }
  // An error page refused by the consumer is reported by its status.
  if (sink.refused && !judgeStatus(responseCode, errorText)) return failed(FailureKind::status);
  // An error page larger than the file is still reported by its status.
  if (sink.oversized > 0) {
    if (!judgeStatus(responseCode, errorText)) return failed(FailureKind::status);
    errorText = "文件超出清单大小：清单=" + std::to_string(sink.limit) + "，已收到=" + std::to_string(sink.oversized);
    return failed(FailureKind::tooLarge);
  }
  if (result != CURLE_OK) {
    errorText = curl_easy_strerror(result);
    // The disk or the consumer (a decoder refusing its bytes) stopped the body.
    return failed(result == CURLE_WRITE_ERROR ? FailureKind::local : FailureKind::network);
  }
  if (!judgeStatus(responseCode, errorText)) return failed(FailureKind::status);
  if (closing) {
    errorText = state.writeFailedText;
    return failed(FailureKind::local);
  }
  return true;
}
