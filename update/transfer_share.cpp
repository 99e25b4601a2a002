#include "update/transfer_share.h"

TransferShare::TransferShare() : share_(curl_share_init()) {
  if (!share_) return;
  bool ready = curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &TransferShare::lock) == CURLSHE_OK &&
               curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &TransferShare::unlock) == CURLSHE_OK &&
               curl_share_setopt(share_, CURLSHOPT_USERDATA, static_cast<void*>(this)) == CURLSHE_OK;
  for (const curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
    ready = ready && curl_share_setopt(share_, CURLSHOPT_SHARE, data) == CURLSHE_OK;
  }
  if (ready) return;
  // A half-configured share is worse than none: transfers then simply do not share.
  curl_share_cleanup(share_);
  share_ = nullptr;
}

TransferShare::~TransferShare() {
  if (share_) curl_share_cleanup(share_);
}

void TransferShare::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<TransferShare*>(self)->locks_[data].lock();
}

void TransferShare::unlock(CURL*, curl_lock_data data, void* self) {
  static_cast<TransferShare*>(self)->locks_[data].unlock();
}
