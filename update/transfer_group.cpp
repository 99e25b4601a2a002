#include "update/transfer_group.h"

#include <curl/curl.h>

#include <algorithm>
#include <map>

#include "update/file_transfer_state.h"

namespace {

struct CurlMultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

}  // namespace

struct TransferGroup::Multi {
  std::unique_ptr<CURLM, CurlMultiCleanup> handle{curl_multi_init()};
  std::map<CURL*, FileTransfer*> inFlight;
};

TransferGroup::TransferGroup() : multi_(std::make_unique<Multi>()) {}

TransferGroup::~TransferGroup() {
  // Transfers still in flight (after a cancel or another transfer's failure) are dropped.
  for (const auto& [handle, transfer] : multi_->inFlight) curl_multi_remove_handle(multi_->handle.get(), handle);
}

bool TransferGroup::ready() const { return multi_->handle != nullptr; }

bool TransferGroup::add(FileTransfer& transfer, std::string& errorText) {
  CURL* handle = transfer.state_->handle.get();
  if (const CURLMcode added = curl_multi_add_handle(multi_->handle.get(), handle); added != CURLM_OK) {
    errorText = curl_multi_strerror(added);
    return false;
  }
  multi_->inFlight[handle] = &transfer;
  return true;
}

std::vector<FileTransfer*> TransferGroup::advance() {
  CURLM* multi = multi_->handle.get();
  int running = 0;
  curl_multi_perform(multi, &running);
  std::vector<FileTransfer*> ended;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    // The message does not survive the handle's removal.
    CURL* handle = message->easy_handle;
    CURLcode result = message->data.result;
    curl_multi_remove_handle(multi, handle);
    FileTransfer* transfer = multi_->inFlight.at(handle);
    if (transfer->state_->followRedirect(result)) {
      if (curl_multi_add_handle(multi, handle) == CURLM_OK) continue;
      result = CURLE_OUT_OF_MEMORY;
    }
    multi_->inFlight.erase(handle);
    transfer->state_->result = result;
    ended.push_back(transfer);
  }
  return ended;
}

void TransferGroup::wait(std::chrono::milliseconds timeout) {
  curl_multi_poll(multi_->handle.get(), nullptr, 0, static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, timeout.count())),
                  nullptr);
}
