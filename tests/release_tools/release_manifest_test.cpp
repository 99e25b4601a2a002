// The manifest rules shared by the release server and kestrun-publish: what a tree lists as,
// and which entries a release may hold.

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tools/release_manifest/release_manifest.h"
#include "tools/release_manifest/release_path_rules.h"

namespace {

namespace fs = std::filesystem;
using release_manifest::ReleaseEntry;
using testing_support::writeFile;

void setMtime(const fs::path& file, std::chrono::nanoseconds sinceEpoch) {
  const std::chrono::sys_time<std::chrono::nanoseconds> moment{sinceEpoch};
  fs::last_write_time(file, std::chrono::file_clock::from_sys(moment));
}

TEST(ReleaseManifest, ListsFilesAndLinksInByteOrderWithoutDirectories) {
  testing_support::TempDir temp;
  const fs::path tree = temp / "tree";
  writeFile(tree / "a/b.txt", "1");
  writeFile(tree / "a.b", "22");
  writeFile(tree / "B", "333");
  writeFile(tree / "old", "4444");
  fs::create_directories(tree / "empty");
  fs::create_directory_symlink("a", tree / "dirlink");
  fs::create_symlink("../../elsewhere", tree / "a/up");
  setMtime(tree / "a/b.txt", std::chrono::seconds(1700000000) + std::chrono::milliseconds(999));
  setMtime(tree / "a.b", std::chrono::seconds(1700000001));
  setMtime(tree / "B", std::chrono::seconds(0));
  // Before 1970 the seconds are truncated toward zero, as the launcher reads them.
  setMtime(tree / "old", -std::chrono::milliseconds(1500));

  std::string json;
  std::string error;
  ASSERT_TRUE(release_manifest::buildManifest(tree, json, error)) << error;
  EXPECT_EQ(json,
            "[{\"path\":\"B\",\"size\":3,\"mtime\":0},"
            "{\"path\":\"a.b\",\"size\":2,\"mtime\":1700000001},"
            "{\"path\":\"a/b.txt\",\"size\":1,\"mtime\":1700000000},"
            "{\"path\":\"a/up\",\"link\":\"../../elsewhere\"},"
            "{\"path\":\"dirlink\",\"link\":\"a\"},"
            "{\"path\":\"old\",\"size\":4,\"mtime\":-1}]");
}

TEST(ReleaseManifest, AMissingTreeIsAnErrorAndAnEmptyOneAnEmptyArray) {
  testing_support::TempDir temp;
  std::string json;
  std::string error;
  EXPECT_FALSE(release_manifest::buildManifest(temp / "missing", json, error));
  EXPECT_NE(error.find("cannot list " + (temp / "missing").string()), std::string::npos);
  EXPECT_TRUE(release_manifest::buildManifest(temp.path(), json, error));
  EXPECT_EQ(json, "[]");
}

struct PathCase {
  std::string path;
  const char* reason;  // empty: accepted
};

TEST(ReleasePathRules, RefusesPathsTheLauncherWouldNotPlaceInside) {
  const std::vector<PathCase> cases = {
      {"Vardel.exe", ""},
      {"bin/My File+1 ü.dll", ""},
      {"..data/x..", ""},
      {"", "empty path"},
      {"/etc/passwd", "absolute path"},
      {"../x", "\"..\" element"},
      {"a/../../x", "\"..\" element"},
      {"a/./x", "\".\" element"},
      {"a//x", "\"\" element"},
      {"a/", "\"\" element"},
      {"a\\..\\x", "backslash in the name"},
      {"C:x", "\":\" in the name"},
      {"file.txt:stream", "\":\" in the name"},
      {"bad\xff.dll", "not UTF-8"},
      {"overlong\xc0\xaf", "not UTF-8"},
      {"surrogate\xed\xa0\x80", "not UTF-8"},
      {"cut\xe2\x82", "not UTF-8"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.path);
    std::string reason;
    EXPECT_EQ(release_manifest::isAcceptedPath(c.path, reason), std::string(c.reason).empty());
    EXPECT_EQ(reason, c.reason);
  }
}

struct LinkCase {
  std::string linkPath;
  std::string target;
  const char* reason;  // the start of the reason; empty: accepted
};

TEST(ReleasePathRules, RefusesLinksThatLeaveTheTree) {
  testing_support::TempDir temp;
  const fs::path tree = temp / "tree";
  writeFile(tree / "a/b/c/file", "x");
  // Inside as text, and inside on disk: it points at the tree itself.
  fs::create_directory_symlink("../../..", tree / "a/b/c/top");
  const std::vector<LinkCase> cases = {
      {"a/b/link", "c/file", ""},
      {"a/b/link", "../../a/b/c/file", ""},
      {"a/b/link", "missing/but/inside", ""},
      {"link", "a\\b\\c\\file", ""},
      {"a/b/c/link", "top/a", ""},
      {"link", "", "link without a target"},
      {"link", "/etc/passwd", "absolute link target"},
      {"link", "\\\\server\\share", "absolute link target"},
      {"link", "C:\\Windows", "absolute link target"},
      {"link", "../outside", "link target ../outside leaves the release"},
      {"a/b/link", "../../../outside", "link target ../../../outside leaves the release"},
      {"a/link", "b\\..\\..\\..\\outside", "link target b\\..\\..\\..\\outside leaves"},
      {"link", "bad\xff", "link target not UTF-8"},
      {"link", "a/file:stream", "link target a/file:stream names a drive or a stream"},
      {"a/link", "b/. ./file", "link target b/. ./file has an element of dots and blanks"},
      // Inside as text; on disk `top/..` is the tree's parent.
      {"a/b/c/link", "top/../x", "link target top/../x leaves the release through another link"},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.linkPath + " -> " + c.target);
    std::string reason;
    const bool accepted = release_manifest::isAcceptedLink(tree, c.linkPath, c.target, reason);
    EXPECT_EQ(accepted, std::string(c.reason).empty()) << reason;
    EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
  }
}

ReleaseEntry entryOf(const std::string& path, const std::string& link) {
  ReleaseEntry entry;
  entry.path = path;
  entry.link = link;
  return entry;
}

TEST(ReleasePathRules, AnEntryIsCheckedByItsPathAndThenItsLink) {
  testing_support::TempDir temp;
  std::string reason;
  EXPECT_TRUE(release_manifest::isAcceptedEntry(temp.path(), entryOf("a", ""), reason));
  EXPECT_FALSE(release_manifest::isAcceptedEntry(temp.path(), entryOf("a\\b", ""), reason));
  EXPECT_EQ(reason, "backslash in the name");
  EXPECT_FALSE(release_manifest::isAcceptedEntry(temp.path(), entryOf("l", "../x"), reason));
  EXPECT_EQ(reason, "link target ../x leaves the release");
}

}  // namespace
