#include "trust/trailing_digest.h"

#include <algorithm>
#include <system_error>

namespace {
// Taken at a time, so that a stop is noticed soon and the writer's next bytes join the pass.
constexpr std::uint64_t kSlice = std::uint64_t{1} << 20;
}  // namespace

TrailingDigest::TrailingDigest(const unsigned char* data) : data_(data) {
  try {
    thread_ = std::thread([this] { follow(); });
  } catch (const std::system_error&) {
    // No thread to be had: the bytes are hashed as they are advanced to, on the writer's.
  }
}

TrailingDigest::~TrailingDigest() { stopThread(); }

void TrailingDigest::stopThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  thread_.join();
}

void TrailingDigest::advance(std::uint64_t final) {
  if (!thread_.joinable()) {
    hash_.update(data_ + hashed_, static_cast<std::size_t>(final - hashed_));
    hashed_ = final;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    final_ = final;
  }
  changed_.notify_one();
}

std::string TrailingDigest::finishHex() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }
  return hash_.finishHex();
}

void TrailingDigest::follow() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || ended_ || final_ > hashed_; });
    if (stopping_ || (final_ == hashed_ && ended_)) return;
    const std::uint64_t count = std::min(final_ - hashed_, kSlice);
    lock.unlock();
    hash_.update(data_ + hashed_, static_cast<std::size_t>(count));
    lock.lock();
    hashed_ += count;
  }
}
