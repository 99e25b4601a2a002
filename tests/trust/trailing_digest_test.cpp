// The digest that follows a writer on its own thread: the same as one made in one pass, however
// the writer advances, and a stop while bytes wait ends the thread at once.
#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "platform/output_mapping.h"
#include "tests/support/temp_dir.h"
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
  testing_support::TempDir dir;
  platform::OutputMapping mapped;
  ASSERT_FALSE(mapped.open(dir / "result", expected.size(), 0));
  std::vector<unsigned char> inMemory(expected.size());
  // In a file mapping, the pages hashed are handed back while the writer goes on.
  for (const auto& [buffer, kind] : {std::pair{inMemory.data(), TrailingDigest::Buffer::InMemory},
                                     std::pair{mapped.data(), TrailingDigest::Buffer::FileMapping}}) {
    for (const std::size_t step : {std::size_t{1} << 20, std::size_t{65536}, std::size_t{777}}) {
      std::fill(buffer, buffer + expected.size(), 0);
      TrailingDigest digest(buffer, kind);
      std::thread writer([&, buffer = buffer] {
        for (std::size_t at = 0; at < expected.size(); at += step) {
          const std::size_t count = std::min(step, expected.size() - at);
          std::copy(expected.begin() + at, expected.begin() + at + count, buffer + at);
          digest.advance(at + count);
        }
      });
      writer.join();
      EXPECT_EQ(digest.finishHex(), onePass(expected)) << "step " << step;
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer)) << "step " << step;
    }
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
