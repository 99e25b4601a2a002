#include "trust/trailing_digest.h"

#include <algorithm>
#include <system_error>

#include "platform/output_mapping.h"

namespace {
// Taken at a time, so that a stop is noticed soon and the writer's next bytes join the pass.
constexpr std::uint64_t kSlice = std::uint64_t{1} << 20;
// Pages are handed back in whole units of this many bytes, a multiple of every page size, so
// that no page the writer may still be filling is touched.
constexpr std::uint64_t kDropUnit = std::uint64_t{1} << 16;
}  // namespace

TrailingDigest::TrailingDigest(const unsigned char* data, Buffer buffer) : data_(data), buffer_(buffer) {
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
    hashUpTo(final);
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
    const std::uint64_t end = hashed_ + count;
    lock.unlock();
    hashUpTo(end);
    lock.lock();
  }
}

void TrailingDigest::hashUpTo(std::uint64_t end) {
  hash_.update(data_ + hashed_, static_cast<std::size_t>(end - hashed_));
  hashed_ = end;
  if (buffer_ != Buffer::FileMapping) return;
  const std::uint64_t dropTo = hashed_ / kDropUnit * kDropUnit;
  if (dropTo <= dropped_) return;
  platform::dropResidentPages(data_ + dropped_, static_cast<std::size_t>(dropTo - dropped_));
  dropped_ = dropTo;
}
