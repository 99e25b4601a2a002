#pragma once

// The option list and the judgement of a result that every transfer of the update client
// shares, whether it runs on its own or among others at once.
#include <curl/curl.h>

#include <cstddef>
#include <string>

#include "update/transfer_context.h"

// Sets options one after another and remembers the first refusal, so a transfer is never
// started with half of its settings.
class OptionSetter {
 public:
  explicit OptionSetter(CURL* handle) : handle_(handle) {}
  CURL* handle() const { return handle_; }

  template <typename Value>
  void operator()(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(handle_, option, value);
  }
  CURLcode result() const { return result_; }

 private:
  CURL* handle_;
  CURLcode result_ = CURLE_OK;
};

// Redirects are followed here, one hop after another on the same handle, not by the library,
// which would keep the first host's proxy for every hop: each hop gets its own host's route.
// A 3xx answer that names its next address ends before its body reaches the transfer's sink.
// One per transfer, living as long as its handle.
struct RedirectHops {
  std::string firstUrl;  // decides the schemes a hop may use
  long followed = 0;
  CURL* handle = nullptr;
  std::string currentUrl = {};  // the hop in flight
  std::string location = {};    // its answer's Location header
  std::size_t headerBytes = 0;  // of the hop in flight
  // From the transfer's context: whether a redirect is followed, and the bound on the bytes
  // of an answer's headers (0: the library's own).
  bool followRedirects = true;
  std::size_t maxHeaderBytes = 0;
  // Its answer's headers that a transfer going on from a part needs.
  std::string etag = {};
  std::string lastModified = {};
  std::string contentRange = {};
};

// What an If-Range header may send back to the server for the answer `hops` last received: its
// ETag unless weak, else its Last-Modified; empty when it had neither.
std::string rangeValidator(const RedirectHops& hops);

// Address, redirects, timeouts, user agent, CA bundle, the stall bound, the run's shared
// connections and the proxy: everything but where the body goes.
void setTransferOptions(OptionSetter& set, const TransferContext& context, const std::string& url, RedirectHops& hops);

// After a transfer that ended with `result`: true when it ended at a redirect and the handle
// is set up for the next hop, to be run again. A redirect past the limit or to a scheme it may
// not use turns result into the library's own error for it.
bool followRedirect(const TransferContext& context, RedirectHops& hops, CURLcode& result);

// True for a status below 400; else errorText is "HTTP <status>".
bool judgeStatus(long responseCode, std::string& errorText);

// The final status of a finished transfer; 0 when none was received.
long responseCodeOf(CURL* handle);
