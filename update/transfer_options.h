#pragma once

// The option list and the judgement of a result that every transfer of the update client
// shares, whether it runs on its own or among others at once.
#include <curl/curl.h>

#include <string>

class UpdateChecker;

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

// Address, redirects, timeouts, user agent, CA bundle, the stall bound and the run's shared
// connections: everything but where the body goes.
void setTransferOptions(OptionSetter& set, UpdateChecker& checker, const std::string& url);

// True for a status below 400; else errorText is "HTTP <status>".
bool judgeStatus(long responseCode, std::string& errorText);

// The final status of a finished transfer; 0 when none was received.
long responseCodeOf(CURL* handle);
