// The digest that follows a writer on its own thread: the same as one made in one pass, however
// the writer advances, and a stop while bytes wait ends the thread at once.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "trust/sha256_hex.h"
#include "trust/trailing_digest.h"

namespace {

std::vector<unsigned char> bytes(std::size_t count) {
  std::vector<unsigned char> data(count);
  for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 251);
  return data;
}

std::string onePass(const std::vector<unsigned char>& data) {
  Sha256Stream hash;
  hash.update(data.data(), data.size());
  return hash.finishHex();
}

TEST(TrailingDigest, FollowsAWriterOnAnotherThread) {
  const std::vector<unsigned char> expected = bytes((3u << 20) + 4567);
  for (const std::size_t step : {std::size_t{1} << 20, std::size_t{65536}, std::size_t{777}}) {
    std::vector<unsigned char> buffer(expected.size());
    TrailingDigest digest(buffer.data());
    std::thread writer([&] {
      for (std::size_t at = 0; at < buffer.size(); at += step) {
        const std::size_t count = std::min(step, buffer.size() - at);
        std::copy(expected.begin() + at, expected.begin() + at + count, buffer.begin() + at);
        digest.advance(at + count);
      }
    });
    writer.join();
    EXPECT_EQ(digest.finishHex(), onePass(expected)) << "step " << step;
  }
}

TEST(TrailingDigest, EmptyAndStoppedEarly) {
  unsigned char none = 0;
  EXPECT_EQ(TrailingDigest(&none).finishHex(), onePass({}));
  const std::vector<unsigned char> data = bytes(64u << 20);
  TrailingDigest stopped(data.data());
  stopped.advance(data.size());
  // Destroyed with most of 64 MiB unhashed: the thread stops within a slice.
}

}  // namespace
