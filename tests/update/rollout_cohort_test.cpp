// The cohort rule over many random installations, and the identifier file it reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"
#include "update/rollout_cohort.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

std::string randomHex(std::size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  EXPECT_FALSE(platform::systemRandomBytes(raw.data(), raw.size()));
  std::string hex;
  for (unsigned char byte : raw) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
  return hex;
}

TEST(RolloutCohortTest, ShareIsMetAtEveryValueAndRaisingItOnlyAdds) {
  const double shares[] = {0, 0.5, 25, 50, 75, 99.5, 100};
  const std::string salt = randomHex(32);
  const std::string drawn = randomHex(16 * 100000);
  std::vector<std::string> ids(100000);
  for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = drawn.substr(32 * i, 32);
  std::vector<bool> before(ids.size(), false);
  for (double share : shares) {
    SCOPED_TRACE(share);
    std::size_t in = 0;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const bool now = inRolloutCohort(salt, ids[i], share);
      EXPECT_TRUE(now || !before[i]) << "left the cohort: " << ids[i];
      before[i] = now;
      in += now ? 1 : 0;
    }
    // Six standard deviations of 100,000 draws at 50 % are under 1 %.
    EXPECT_NEAR(static_cast<double>(in) / ids.size(), share / 100, share == 0 || share == 100 ? 0 : 0.01);
  }
}

TEST(RolloutCohortTest, IdentifierIsKeptAndDrawnAgainWhenMoved) {
  TempDir install;
  std::string first, again, error;
  ASSERT_TRUE(installationIdentifier(install.path(), first, error)) << error;
  EXPECT_EQ(first.size(), 32u);
  ASSERT_TRUE(installationIdentifier(install.path(), again, error)) << error;
  EXPECT_EQ(again, first);
  // The same directory by another route: in other letters on Windows, through a link elsewhere.
#ifdef _WIN32
  std::string upper = platform::pathToUtf8(install.path());
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  const fs::path sameDir = platform::fromUtf8(upper);
#else
  const fs::path sameDir = install / "route";
  fs::create_directory_symlink(install.path(), sameDir);
#endif
  ASSERT_TRUE(installationIdentifier(sameDir, again, error)) << error;
  EXPECT_EQ(again, first);
  // The same file found in another directory: a copied installation.
  writeFile(install / "moved/update_id.txt", readFile(install / "update_id.txt"));
  ASSERT_TRUE(installationIdentifier(install / "moved", again, error)) << error;
  EXPECT_NE(again, first);
}

TEST(RolloutCohortTest, IdentifierIsNeverWrittenThroughALink) {
  TempDir install;
  SKIP_WITHOUT_SYMLINKS(install.path());
  writeFile(install / "elsewhere.txt", "kept");
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8("elsewhere.txt"), install / "update_id.txt"));
  std::string identifier, error;
  ASSERT_TRUE(installationIdentifier(install.path(), identifier, error)) << error;
  EXPECT_EQ(readFile(install / "elsewhere.txt"), "kept");
  EXPECT_EQ(readFile(install / "update_id.txt").substr(0, 33), identifier + "\n");
}

}  // namespace
