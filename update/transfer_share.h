#pragma once

#include <curl/curl.h>

#include <mutex>

// What the transfers of one run share: kept connections, TLS sessions and DNS answers. A file
// after the first then costs a request on an open connection, and a new connection resumes
// the TLS session instead of a full handshake. Each transfer still has its own easy handle.
class TransferShare {
 public:
  TransferShare();
  ~TransferShare();
  TransferShare(const TransferShare&) = delete;
  TransferShare& operator=(const TransferShare&) = delete;

  // Null when the library could not make one: each transfer then opens its own connection.
  CURLSH* handle() const { return share_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void unlock(CURL*, curl_lock_data data, void* self);

  CURLSH* share_ = nullptr;
  // One lock per kind of shared data, for transfers of the run on different threads.
  std::mutex locks_[CURL_LOCK_DATA_LAST];
};
