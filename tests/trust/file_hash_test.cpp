// File hashes from the manifest to the staging directory, against a loopback server: a file
// is kept only when its bytes have the manifest's digest; a wrong one is retried like any
// failed transfer and never stays behind to be applied.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "names/ascii_case.h"
#include "staging/download_pending.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "tests/trust/case_name.h"
#include "trust/sha256_hex.h"
#include "update/update_checker.h"

namespace {

namespace fs = std::filesystem;
using testing_support::LoopbackServer;
using testing_support::readFile;
using testing_support::TempDir;

constexpr const char* kContent = "the new library";
const std::string kRightDigest = sha256Hex(kContent);
const std::string kOtherDigest = sha256Hex("something else");

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct HashCase {
  const char* name;
  std::string sha256Json;  // the value of "sha256" as JSON text; empty: no such key
  const char* checkError;  // nullptr: the check succeeds
  bool downloaded;         // downloadPending succeeds and the staged file holds kContent
  int fileRequests;        // transfers of the file (1, or 4 after three retries)
};

const HashCase kCases[] = {
    {"right hash", "\"" + kRightDigest + "\"", nullptr, true, 1},
    {"upper case hex", "\"" + upper(kRightDigest) + "\"", nullptr, true, 1},
    {"no hash", "", nullptr, true, 1},
    {"wrong hash", "\"" + kOtherDigest + "\"", nullptr, false, 4},
    {"malformed hash, too short", "\"" + kRightDigest.substr(1) + "\"", "更新清单中的 sha256 无效：lib/app.dll", false, 0},
    {"malformed hash, not hex", "\"" + std::string(64, 'g') + "\"", "更新清单中的 sha256 无效：lib/app.dll", false, 0},
    {"malformed hash, a number", "12", "更新清单中的 sha256 无效：lib/app.dll", false, 0},
};

class FileHashTest : public ::testing::TestWithParam<HashCase> {
 protected:
  void SetUp() override {
    const HashCase& c = GetParam();
    manifest = R"([{"path":"lib/app.dll","size":15,"mtime":1700000000)" +
               (c.sha256Json.empty() ? std::string() : ",\"sha256\":" + c.sha256Json) + "}]";
    server.server().Get("/gis/update/list", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(manifest, "application/json");
    });
    server.server().Get("/gis/update/file", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kContent, "application/octet-stream");
    });
    server.start();
    checker.baseUrl = server.baseUrl();
  }

  int fileRequests() const {
    int count = 0;
    for (const std::string& target : server.requestTargets()) count += target.rfind("/gis/update/file?", 0) == 0;
    return count;
  }

  std::string manifest;
  LoopbackServer server;
  TempDir install;
  UpdateChecker checker{"", "windows", install.path(), install.path() / "update_staging"};
};

TEST_P(FileHashTest, KeepsOnlyFilesWithTheManifestsDigest) {
  const HashCase& c = GetParam();
  const fs::path staged = install / "update_staging/lib/app.dll";

  std::string errorText;
  const bool checked = checker.checkForUpdates(errorText);
  if (c.checkError) {
    EXPECT_FALSE(checked);
    EXPECT_EQ(errorText, c.checkError);
    EXPECT_EQ(fileRequests(), 0);
    return;
  }
  ASSERT_TRUE(checked) << errorText;
  ASSERT_EQ(checker.pending.size(), 1u);
  EXPECT_EQ(checker.pending[0].sha256, c.sha256Json.empty() ? "" : names::lowerAscii(c.sha256Json.substr(1, 64)));

  const bool downloaded = downloadPending(checker, {}, errorText);
  EXPECT_EQ(downloaded, c.downloaded) << errorText;
  EXPECT_EQ(fileRequests(), c.fileRequests);
  if (c.downloaded) {
    EXPECT_EQ(readFile(staged), kContent);
  } else {
    EXPECT_EQ(errorText, "下载文件失败：lib/app.dll（sha256 不一致：应为 " + kOtherDigest + "，收到 " + kRightDigest + "）");
    EXPECT_FALSE(fs::exists(staged)) << "a file with a wrong digest must not wait in the staging directory";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FileHashTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HashCase>& info) { return caseName(info.param.name); });

// The streamed digest equals the digest of the whole, however the bytes are cut.
TEST(Sha256Stream, PiecesGiveTheDigestOfTheWhole) {
  const std::string text(100000, 'k');
  for (const std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{16384}}) {
    Sha256Stream stream;
    for (std::size_t at = 0; at < text.size(); at += piece) {
      stream.update(text.data() + at, std::min(piece, text.size() - at));
    }
    EXPECT_EQ(stream.finishHex(), sha256Hex(text)) << piece;
  }
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
