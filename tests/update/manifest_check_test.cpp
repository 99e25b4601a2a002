// The update check against a real manifest server on 127.0.0.1: error texts, classification
// of entries and the exact bytes of update.log.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <mutex>
#include <regex>
#include <string>
#include <tuple>
#include <thread>
#include <vector>

#include "names/installation_layout.h"
#include "platform/filesystem.h"
#include "tests/support/loopback_server.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"
#include "tests/update/manifest_readings.h"
#include "update/update_checker.h"

namespace {

namespace fs = std::filesystem;
using testing_support::LoopbackServer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr const char* kPreviousReport = "the report of an earlier check\n";
constexpr std::int64_t kLocalSeconds = 1700000000;

// The launcher's own list; on Linux it starts with the launcher's file name "Kestrun".
const std::vector<std::string> kShippedLockedPatterns = lockedFilePatterns();

// Where the launcher's own file is "Kestrun" (Linux), that name is locked as well; on Windows
// it is an ordinary name.
#ifdef _WIN32
constexpr bool kBareLauncherNameLocked = false;
#else
constexpr bool kBareLauncherNameLocked = true;
#endif

class ManifestCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.server().Get("/gis/update/list", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex);
      res.status = status;
      res.set_content(manifest, "application/json");
    });
    server.start();
    checker.baseUrl = server.baseUrl();
    writeFile(install / "update.log", kPreviousReport);
  }

  void serve(const std::string& body, int statusCode = 200) {
    std::lock_guard<std::mutex> lock(mutex);
    manifest = body;
    status = statusCode;
  }

  // A local file of `size` bytes written at kLocalSeconds.
  void makeFile(const std::string& relative, std::size_t size) {
    writeFile(install / relative, std::string(size, 'x'));
    ASSERT_FALSE(platform::setLastWriteFileTime(install / relative, platform::unixSecondsToFileTime(kLocalSeconds)));
  }

  // update.log with the time stamp of its first line replaced by "TIME", after checking its form.
  std::string maskedReport() {
    std::string report = readFile(install / "update.log");
    const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\])");
    EXPECT_TRUE(std::regex_search(report, stamp)) << report;
    return std::regex_replace(report, stamp, "[TIME]", std::regex_constants::format_first_only);
  }

  std::string headLines(int entries, int pendingCount, int forbidden, int locked) const {
    return "[TIME] 更新检测：清单 " + std::to_string(entries) + " 项，待更新 " + std::to_string(pendingCount) +
           " 项，禁止下载 " + std::to_string(forbidden) + " 项，跳过锁定文件 " + std::to_string(locked) + " 项\n" +
           "服务器: " + server.baseUrl() + "  平台: windows\n";
  }

  bool check(std::string& errorText) { return checker.checkForUpdates(errorText); }

  std::mutex mutex;
  std::string manifest = "[]";
  int status = 200;
  LoopbackServer server;
  TempDir install;
  UpdateChecker checker{"", "windows", install.path(), install.path() / "update_staging"};
};

// A manifest with a rollout element of `share` (JSON text) in front of the elements of `rest`.
std::string rollout(const std::string& share, const std::string& rest) {
  return R"([{"rollout": {"release": "20261208-093000-001", "share": )" + share + R"(, "salt": ")" +
         std::string(64, 'a') + "\"}}" + (rest == "[]" ? "]" : "," + rest.substr(1));
}

struct FailureCase {
  const char* name;
  std::string body;
  int status;
  std::string errorText;
};

TEST_F(ManifestCheckTest, FailuresGiveExactTextsAndKeepThePreviousReport) {
  const std::string parseFailed = "更新清单解析失败：";
  const FailureCase cases[] = {
      {"404", "not found", 404, "无法获取更新清单：HTTP 404"},
      {"500", "[]", 500, "无法获取更新清单：HTTP 500"},
      {"empty body", "", 200,
       parseFailed + "[json.exception.parse_error.101] parse error at line 1, column 1: attempting to parse an "
                     "empty input; check that your input string or stream contains the expected JSON"},
      {"object", R"({"path": "a.dll"})", 200, "更新清单格式无效（非 JSON 数组）"},
      {"string", R"("[]")", 200, "更新清单格式无效（非 JSON 数组）"},
      {"numeric path", R"([{"path": 5}])", 200,
       parseFailed + "[json.exception.type_error.302] type must be string, but is number"},
      {"null path", R"([{"path": null}])", 200,
       parseFailed + "[json.exception.type_error.302] type must be string, but is null"},
      {"array link", R"([{"path": "a.dll", "link": []}])", 200,
       parseFailed + "[json.exception.type_error.302] type must be string, but is array"},
      // Judged on the text alone, before any look at the disk (or at the host a path names).
      {"server share", R"([{"path": "//host/share/x"}])", 200, "更新清单路径不安全：//host/share/x"},
      {"one file on Windows", R"([{"path": "lib/a.dll"}, {"path": "LIB/a.dll."}])", 200,
       "更新清单路径仅大小写不同：lib/a.dll，LIB/a.dll."},
      {"first clash in the list's order", R"([{"path": "b"}, {"path": "a"}, {"path": "a"}, {"path": "B"}, {"path": "A"}])",
       200, "更新清单路径仅大小写不同：b，B"},
      {"absolute link target", R"([{"path": "a", "link": "/home/user/.bashrc"}])", 200,
       "更新清单软链接指向安装目录之外：a -> /home/user/.bashrc"},
      {"number beyond a double", R"([{"path": "a.dll", "x": 1.8e308}])", 200,
       parseFailed + "[json.exception.out_of_range.406] number overflow parsing '1.8e308'"},
      {"time beyond a file time", R"([{"path": "a.dll", "mtime": 1000000000000}])", 200,
       "更新清单中的修改时间无效：a.dll"},
      // Names Windows refuses, shortens or folds onto another, escaped in the text.
      {"refused character", R"([{"path": "notes?.txt"}])", 200, "更新清单路径不安全：notes?.txt"},
      {"control character", R"([{"path": "a\nb\u001b"}])", 200, "更新清单路径不安全：a\\x0Ab\\x1B"},
      {"C1 control and line separator", R"([{"path": "a\u0085b\u2028", "sha256": 1}])", 200,
       "更新清单中的 sha256 无效：a\\xC2\\x85b\\xE2\\x80\\xA8"},
      {"line break before the judgement", R"([{"path": "a\r\n", "sha256": 1}])", 200,
       "更新清单中的 sha256 无效：a\\x0D\\x0A"},
      {"trailing dot", R"([{"path": "Kestrun.exe."}])", 200, "更新清单路径以点或空格结尾：Kestrun.exe."},
      {"trailing blank", R"([{"path": "bin /a.dll"}])", 200, "更新清单路径以点或空格结尾：bin /a.dll"},
      {"Unicode case", R"([{"path": "Ä.dat"}, {"path": "ä.dat"}])", 200, "更新清单路径仅大小写不同：Ä.dat，ä.dat"},
      {"repeated path", R"([{"path": "a.dll"}, {"path": "b"}, {"path": "a.dll"}])", 200, "更新清单路径重复：a.dll"},
      {"short name of the lock", R"([{"path": "UPDATE~1.LOC"}])", 200,
       "更新清单路径可能是受保护文件的短文件名：UPDATE~1.LOC"},
      {"short name as a directory", R"([{"path": "UPDATE~1/x"}])", 200,
       "更新清单路径可能是受保护文件的短文件名：UPDATE~1/x"},
      {"short name of a daily log", R"([{"path": "Logs/KESTRU~1.LOG"}])", 200,
       "更新清单路径可能是受保护文件的短文件名：Logs/KESTRU~1.LOG"},
      {"short name of a locked name", R"([{"path": "bin/VCRUNT~2.DLL"}])", 200,
       "更新清单路径可能是受保护文件的短文件名：bin/VCRUNT~2.DLL"},
      {"link through a link", R"([{"path": "d/y", "link": ".."}, {"path": "d/L", "link": "y/../x"}])", 200,
       "更新清单软链接经过另一个软链接：d/L -> y/../x"},
      // A candidate release (rollout): its settings exactly, and its files judged like any.
      {"share as text", rollout("\"25\"", "[]"), 200, "更新清单中的灰度发布无效：share 应为 0 到 100 的数"},
      {"share above 100", rollout("100.5", "[]"), 200, "更新清单中的灰度发布无效：share 应为 0 到 100 的数"},
      {"short salt", R"([{"rollout": {"release": "r", "share": 1, "salt": "ab"}}])", 200,
       "更新清单中的灰度发布无效：salt 应为 64 位十六进制数"},
      {"two rollouts", rollout("1", R"([{"rollout": 1}])"), 200, "更新清单中的灰度发布无效：rollout 出现两次"},
      {"candidate without rollout", R"([{"candidate": {"path": "a.dll"}}])", 200,
       "更新清单中的灰度发布无效：有候选文件而没有 rollout"},
      {"unsafe candidate path", rollout("100", R"([{"candidate": {"path": "//host/share/x"}}])"), 200,
       "更新清单路径不安全：//host/share/x"},
  };
  checker.lockedPatterns = kShippedLockedPatterns;
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    serve(c.body, c.status);
    std::string errorText;
    EXPECT_FALSE(check(errorText));
    EXPECT_EQ(errorText, c.errorText);
    EXPECT_EQ(readFile(install / "update.log"), kPreviousReport);
  }
}

TEST_F(ManifestCheckTest, ParserIsStrict) {
  const char* bodies[] = {
      "<html><body>Please log in</body></html>",  // a captive portal
      "[] /* a comment */",
      "[/* a comment */]",
      "[] []",
      "[1,]",
      "\xef\xbb\xbf[1, 2",
      R"([{"path": "\udc00.dll"}])",  // a lone low surrogate
      // A document that ends mid-entry fails as malformed, whatever an earlier entry did wrong.
      R"([{"path": "a.dll", "sha256": "zz"}, {"path": 5}, {"path": "b.dll", "si)",
  };
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    serve(body);
    std::string errorText;
    EXPECT_FALSE(check(errorText));
    EXPECT_EQ(errorText.rfind("更新清单解析失败：[json.exception.parse_error.", 0), 0u) << errorText;
    EXPECT_EQ(readFile(install / "update.log"), kPreviousReport);
  }
}

TEST_F(ManifestCheckTest, WhiteSpaceAroundTheArrayIsAccepted) {
  serve(" \n\t[]\r\n ");
  std::string errorText;
  EXPECT_TRUE(check(errorText)) << errorText;
}

TEST_F(ManifestCheckTest, UnconfiguredServerSendsNothing) {
  for (const char* base : {"", "///"}) {
    UpdateChecker unconfigured(base, "windows", install.path(), install.path() / "update_staging");
    unconfigured.pending.push_back({"left.dll", 1, 1, ""});
    std::string errorText;
    EXPECT_FALSE(unconfigured.checkForUpdates(errorText));
    EXPECT_EQ(errorText, "更新服务器未配置（企业版请检查 Kestrun.ini 的 [server] baseUrl）");
    EXPECT_TRUE(unconfigured.pending.empty());
  }
  EXPECT_TRUE(server.requestTargets().empty());
  EXPECT_EQ(readFile(install / "update.log"), kPreviousReport);
}

TEST_F(ManifestCheckTest, UnreachableServerGivesTheTransferText) {
  server.stop();
  std::string errorText;
  EXPECT_FALSE(check(errorText));
  EXPECT_EQ(errorText, std::string("无法获取更新清单：") + curl_easy_strerror(CURLE_COULDNT_CONNECT));
}

TEST_F(ManifestCheckTest, TrailingSlashesOfTheBaseAddressAreNotSent) {
  UpdateChecker slashed(server.baseUrl() + "///", "windows", install.path(), install.path() / "update_staging");
  std::string errorText;
  ASSERT_TRUE(slashed.checkForUpdates(errorText)) << errorText;
  for (int i = 0; i < 500 && server.requestTargets().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(server.requestTargets(), std::vector<std::string>{"/gis/update/list?platform=windows"});
  EXPECT_EQ(maskedReport(), headLines(0, 0, 0, 0) + "（无差异，本次不更新）\n");
}

TEST_F(ManifestCheckTest, EmptyManifestWritesAReportWithoutDifferences) {
  checker.pending.push_back({"left.dll", 1, 1, ""});
  std::string errorText = "untouched";
  ASSERT_TRUE(check(errorText));
  EXPECT_EQ(errorText, "untouched");
  EXPECT_TRUE(checker.pending.empty());
  EXPECT_EQ(maskedReport(), headLines(0, 0, 0, 0) + "（无差异，本次不更新）\n");
}

TEST_F(ManifestCheckTest, EntryIsNormalisedAndPending) {
  serve(R"([{"path": "a\\b.dll", "size": "12"}])");
  std::string errorText;
  ASSERT_TRUE(check(errorText)) << errorText;
  ASSERT_EQ(checker.pending.size(), 1u);
  EXPECT_EQ(checker.pending[0].path, "a/b.dll");
  EXPECT_EQ(checker.pending[0].size, 12);
  EXPECT_EQ(checker.pending[0].mtime, 0);
  EXPECT_EQ(checker.pending[0].link, "");
  EXPECT_EQ(maskedReport(), headLines(1, 1, 0, 0) + "  [待更新] a/b.dll  本地不存在\n");
}

// The body is read as a stream; each row reads as a tree of the whole document would.
TEST_F(ManifestCheckTest, EntriesReadFromTheStreamAsFromATree) {
  const struct {
    const char* name;
    std::string body;
    ManifestEntry expected;
  } cases[] = {
      {"the last of repeated keys", R"([{"path": 5, "size": 1, "path": "a.dll", "size": "7"}])", {"a.dll", 7, 0, ""}},
      {"nesting passed over", R"([[{"path": "x"}], {"path": "a.dll", "x": {"path": "y", "z": [[{"path": "z"}]]}}])",
       {"a.dll", 0, 0, ""}},
      {"64-bit edges", R"([{"path": "a", "size": 18446744073709551615, "mtime": -9223372036854775808}])",
       {"a", -1, std::numeric_limits<std::int64_t>::min(), ""}},
      {"beyond 64 bits", R"([{"path": "a", "size": 1e300, "mtime": -1e300}])",
       {"a", std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(), ""}},
      {"escapes in paths", R"([{"path": "\u0061\\b\/\u4e2d.dll"}])", {"a/b/\u4e2d.dll", 0, 0, ""}},
      {"a halted candidate passed over", rollout("0", R"([{"candidate": {"path": "b"}}, {"path": "a", "size": 1}])"),
       {"a", 1, 0, ""}},
      {"a candidate for all", rollout("100", R"([{"candidate": {"path": "b", "size": 2}}, {"path": "a"}])"),
       {"b", 2, 0, ""}},
      {"escapes in keys", R"([{"p\u0061th": "a.dll", "si\u007ae": 2.9}])", {"a.dll", 2, 0, ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    serve(c.body);
    std::string errorText;
    ASSERT_TRUE(check(errorText)) << errorText;
    ASSERT_EQ(checker.pending.size(), 1u);
    EXPECT_EQ(checker.pending[0].path, c.expected.path);
    EXPECT_EQ(checker.pending[0].size, c.expected.size);
    EXPECT_EQ(checker.pending[0].mtime, c.expected.mtime);
  }
}

// Every reader takes a body alike; inside an element with a path, the keys of the other
// elements are passed over as unknown keys are.
TEST(ManifestReaders, AgreeOnEveryBody) {
  const std::string nested64 = "[" + std::string(63, '[') + std::string(64, ']');
  const std::string nested65 = "[" + std::string(64, '[') + std::string(65, ']');
  const struct {
    const char* name;
    std::string body;
    bool signedManifest;
    std::string errorText;  // empty: the reading succeeds
    std::string paths;      // the entries' paths, each followed by ';'
    std::size_t warnings;
  } cases[] = {
      {"keys out of place, found by fuzzing",
       R"([{"path":"a.dll","size":12,"health":"aaaaaaaaaaaaaaaaaaaaa*aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","zst":{"size":9,"sha256":"bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},"patches":[{"from_sha256":"cccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccc","size":5,"sha256":"dddddddddddddddddddddddddddddddddddddddddddddddddddddd}]dddddddd"},{"from_sha256":"x","size":-1},7]},{"path":"b.dll","zst":"no","patches":{}}])",
       false, "", "a.dll;b.dll;", 2},
      {"the same, signed", "", true, "已签名的更新清单缺少 sha256：a.dll", "", 1},
      {"a rollout inside a file", R"([{"path":"a.dll","rollout":5,"candidate":{"path":"b"}}])", false, "", "a.dll;", 0},
      {"an empty path with a health request", R"([{"path":"","health":{"release":"r1"}}])", false, "", "", 0},
      {"automatic rollback inside a file", R"([{"path":"a","auto_rollback":{"release":"r1"}}])", false, "", "a;", 0},
      {"a watch of 61 s", R"([{"auto_rollback":{"release":"r1","window_seconds":61}},{"path":"a"}])", false, "", "a;", 1},
      {"a watch of 2.5 s", R"([{"auto_rollback":{"release":"r1","window_seconds":2.5}}])", false, "", "", 1},
      {"more failed starts than starts",
       R"([{"auto_rollback":{"release":"r1","probation_starts":2,"failed_starts":3}}])", false, "", "", 1},
      {"a release id with a space", R"([{"auto_rollback":{"release":"r 1"}}])", false, "", "", 1},
      {"a path of the wrong type beside a rollout", R"([{"rollout":{},"path":null}])", false,
       "更新清单解析失败：[json.exception.type_error.302] type must be string, but is null", "", 0},
      {"64 levels of nesting", nested64, false, "", "", 0},
      {"65 levels of nesting", nested65, false, "更新清单解析失败：JSON 嵌套超过 64 层", "", 0},
      {"deep under an unknown key", R"([{"path":"a","x":)" + nested65 + "}]", false,
       "更新清单解析失败：JSON 嵌套超过 64 层", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& body = c.body.empty() ? cases[0].body : c.body;
    ManifestReading tree;
    EXPECT_EQ(manifestReadersDisagree(body, c.signedManifest, tree), "");
    EXPECT_EQ(tree.errorText, c.errorText);
    std::string paths;
    for (const ManifestEntry& entry : tree.entries) paths += entry.path + ";";
    if (tree.ok) {
      EXPECT_EQ(paths, c.paths);
    }
    EXPECT_EQ(tree.warnings.size(), c.warnings);
    EXPECT_FALSE(tree.rollout.present);
    EXPECT_EQ(tree.healthRelease, "");
    EXPECT_FALSE(tree.autoRollback.present);
  }
  const ManifestReading rollback =
      readManifestAsTree(R"([{"auto_rollback":{"release":"r2","window_seconds":60,"probation_starts":4}}])", false);
  EXPECT_EQ(std::make_tuple(rollback.autoRollback.present, rollback.autoRollback.release,
                            rollback.autoRollback.windowSeconds, rollback.autoRollback.probationStarts,
                            rollback.autoRollback.failedStarts),
            std::make_tuple(true, std::string("r2"), 60, 4, 2));
  // Each input a fuzz run found, kept as a seed.
  for (const auto& seed : fs::directory_iterator(KESTRUN_MANIFEST_FUZZ_CORPUS)) {
    SCOPED_TRACE(seed.path().filename().string());
    for (const bool signedManifest : {false, true}) {
      ManifestReading tree;
      EXPECT_EQ(manifestReadersDisagree(readFile(seed.path()), signedManifest, tree), "");
    }
  }
}

TEST_F(ManifestCheckTest, OffersOfObjectsAreReadAndMalformedOnesLeftOutWithoutFailingTheCheck) {
  const std::string a(64, 'a');
  const std::string sha = R"("sha256":")" + a + R"(",)";
  const std::string copy = R"({"size":9,"sha256":")" + std::string(64, 'B') + R"("})";
  const std::string patch = R"({"from_sha256":")" + a + R"(","size":5,"sha256":")" + a + R"("})";
  struct Case {
    std::string fields;
    std::size_t copies, patches;
  };
  const Case cases[] = {
      {sha + R"("zst":)" + copy + R"(,"patches":[)" + patch + "," + patch + "]", 1, 2},
      {R"("zst":)" + copy + R"(,"patches":[)" + patch + "]", 0, 0},  // nothing to check the result against
      {sha + R"("zst":{"size":0,"sha256":")" + a + R"("})", 0, 0},
      {sha + R"("zst":{"size":"9","sha256":")" + a + R"("})", 0, 0},
      {sha + R"("zst":{"size":9,"sha256":"abc"},"patches":{})", 0, 0},
      {sha + R"("zst":"x","patches":[7,{"size":5,"sha256":")" + a + R"("},)" + patch + "]", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    serve(R"([{"path":"a.dll","size":3,)" + c.fields + "}]");
    std::string errorText;
    ASSERT_TRUE(check(errorText)) << errorText;
    ASSERT_EQ(checker.pending.size(), 1u);
    EXPECT_EQ(checker.pending[0].zst.size(), c.copies);
    EXPECT_EQ(checker.pending[0].patches.size(), c.patches);
  }
  EXPECT_EQ(checker.pending[0].patches[0].fromSha256, a);
  serve(R"([{"path":"a.dll","size":3,)" + cases[0].fields + "}]");
  std::string errorText;
  ASSERT_TRUE(check(errorText));
  EXPECT_EQ(checker.pending[0].zst[0].sha256, std::string(64, 'b'));
}

TEST_F(ManifestCheckTest, ElementsWithoutAPathAreSkippedUncounted) {
  serve(R"([5, null, "x.dll", [], true, {}, {"size": 3}, {"path": ""}, {"path": "", "link": "y"},
            {"PATH": "z.dll"}, {"path": "lib\\libz.so", "link": "..\\lib\\libz.so.1", "size": 3.9, "mtime": "  -7abc"}])");
  std::string errorText;
  // Where no link can be made, a release with one can never be applied: the check says so.
  if (!testing_support::symlinkUnavailableReason(install.path()).empty()) {
    EXPECT_FALSE(check(errorText));
    EXPECT_EQ(errorText.rfind("无法创建软链接：lib/libz.so（", 0), 0u) << errorText;
    EXPECT_TRUE(checker.pending.empty());
    return;
  }
  ASSERT_TRUE(check(errorText)) << errorText;
  ASSERT_EQ(checker.pending.size(), 1u);
  EXPECT_EQ(checker.pending[0].path, "lib/libz.so");
  EXPECT_EQ(checker.pending[0].link, "../lib/libz.so.1");
  EXPECT_EQ(checker.pending[0].size, 3);
  EXPECT_EQ(checker.pending[0].mtime, -7);
  EXPECT_EQ(maskedReport(), headLines(1, 1, 0, 0) + "  [待更新] lib/libz.so  应为软链接但本地不是（需重建）\n");
}

// The probe for links leaves the staged part of a file that the download goes on with.
TEST_F(ManifestCheckTest, ProbingForLinksKeepsStagedParts) {
  if (const std::string why = testing_support::symlinkUnavailableReason(install.path()); !why.empty()) GTEST_SKIP() << why;
  serve(R"([{"path": "lib/libz.so", "link": "libz.so.1"}])");
  makeFile("update_staging/data/big.bin", 5);
  std::string errorText;
  ASSERT_TRUE(check(errorText)) << errorText;
  EXPECT_EQ(readFile(install / "update_staging/data/big.bin"), "xxxxx");
  EXPECT_FALSE(fs::is_symlink(install / "update_staging/link-probe"));
}

TEST_F(ManifestCheckTest, ForbiddenLockedAndPendingEntriesAreReportedInManifestOrder) {
  checker.lockedPatterns = kShippedLockedPatterns;
  checker.forbiddenPatterns = {"debug*", "Kestrun.exe"};
  makeFile("Kestrun.exe", 5);
  makeFile("bin/UCRTBASE.dll", 5);
  makeFile("msvcp140.dll", 8);
  makeFile("current.dll", 4);
  serve(R"([
    {"path": "bin/debug.log", "size": 1},
    {"path": "Kestrun.exe", "size": 7},
    {"path": "bin/UCRTBASE.dll", "size": 9},
    {"path": "msvcp140.dll", "size": 8, "mtime": 1700000000},
    {"path": "vcruntime140_1.dll", "size": 8},
    {"path": "current.dll", "size": 4, "mtime": 1700000001},
    {"path": "changed.dll", "size": 4},
    {"path": "bin/DEBUG.pdb", "size": 1},
    {"path": "UPDATE.LOG", "link": "a.log"},
    {"path": "logs/kestrun-20261207.log", "size": 1},
    {"path": "logs/vardel.txt", "size": 1}
  ])");
  std::string errorText;
  ASSERT_TRUE(check(errorText)) << errorText;

  // The forbidden list is tried first, so the launcher's own name is excluded, not locked;
  // the files the launcher keeps for itself are excluded too, the main program's logs are not.
  std::vector<std::string> pendingPaths;
  for (const ManifestEntry& entry : checker.pending) pendingPaths.push_back(entry.path);
  EXPECT_EQ(pendingPaths, (std::vector<std::string>{"vcruntime140_1.dll", "changed.dll", "logs/vardel.txt"}));
  EXPECT_EQ(maskedReport(), headLines(11, 3, 5, 2) +
                                "  [排除-禁止下载] bin/debug.log\n"
                                "  [排除-禁止下载] Kestrun.exe\n"
                                "  [跳过-自更新锁定] bin/UCRTBASE.dll  大小不同(本地=5 远端=9)\n"
                                "  [待更新] vcruntime140_1.dll  本地不存在\n"
                                "  [待更新] changed.dll  本地不存在\n"
                                "  [排除-禁止下载] bin/DEBUG.pdb\n"
                                "  [排除-禁止下载] UPDATE.LOG\n"
                                "  [排除-禁止下载] logs/kestrun-20261207.log\n"
                                "  [待更新] logs/vardel.txt  本地不存在\n");
}

TEST_F(ManifestCheckTest, ASignedManifestVouchesForTheBytesOfEveryFile) {
  checker.manifestPublicKey = "any key: the body is judged after the signature";
  const std::string hash = R"("sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")";
  const FailureCase cases[] = {
      {"no sha256", R"([{"path": "a.dll", "size": 3}])", 200, "已签名的更新清单缺少 sha256：a.dll"},
      {"no size", R"([{"path": "a.dll", "size": -1, )" + hash + "}]", 200, "更新清单中的文件大小无效：a.dll"},
  };
  for (const FailureCase& c : cases) {
    std::string errorText;
    EXPECT_FALSE(checker.checkManifestBody(c.body, errorText)) << c.name;
    EXPECT_EQ(errorText, c.errorText);
  }
  std::string errorText;
  EXPECT_TRUE(checker.checkManifestBody(R"([{"path": "a", "link": "b"}, {"path": "c.dll", "size": 3, )" + hash + "}]",
                                        errorText)) << errorText;
}

TEST(LockedFilePatterns, TheProductsNamesWithTheLinuxLauncherNameInFront) {
  std::vector<std::string> expected = {"Kestrun.exe", "vcruntime140*", "msvcp140*",
                                       "concrt140*",  "ucrtbase*",     "api-ms-win-*"};
  if (kBareLauncherNameLocked) expected.insert(expected.begin(), "Kestrun");
  EXPECT_EQ(lockedFilePatterns(), expected);
}

struct LockedCase {
  const char* name;
  const char* path;
  bool localFile;
  std::int64_t manifestSize;
  std::size_t pendingCount;
  std::string reportRows;
  int locked;
};

TEST_F(ManifestCheckTest, LockedFileIsProtectedOnlyWhileItExists) {
  std::vector<LockedCase> cases = {
      {"differs", "Kestrun.exe", true, 7, 0, "  [跳过-自更新锁定] Kestrun.exe  大小不同(本地=5 远端=7)\n", 1},
      {"up to date", "Kestrun.exe", true, 5, 0, "（无差异，本次不更新）\n", 1},
      {"missing", "Kestrun.exe", false, 7, 1, "  [待更新] Kestrun.exe  本地不存在\n", 0},
      {"runtime differs", "bin/msvcp140_atomic_wait.dll", true, 7, 0,
       "  [跳过-自更新锁定] bin/msvcp140_atomic_wait.dll  大小不同(本地=5 远端=7)\n", 1},
      {"launcher name as a prefix", "Kestrun.sh", true, 7, 1, "  [待更新] Kestrun.sh  大小不同(本地=5 远端=7)\n", 0},
  };
  if (kBareLauncherNameLocked) {
    cases.push_back({"launcher differs", "Kestrun", true, 7, 0, "  [跳过-自更新锁定] Kestrun  大小不同(本地=5 远端=7)\n", 1});
    cases.push_back(
        {"launcher in other case", "KESTRUN", true, 7, 0, "  [跳过-自更新锁定] KESTRUN  大小不同(本地=5 远端=7)\n", 1});
    cases.push_back({"launcher missing", "Kestrun", false, 7, 1, "  [待更新] Kestrun  本地不存在\n", 0});
  } else {
    cases.push_back({"the Linux launcher's name", "Kestrun", true, 7, 1, "  [待更新] Kestrun  大小不同(本地=5 远端=7)\n", 0});
  }
  checker.lockedPatterns = kShippedLockedPatterns;
  for (const LockedCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(install / "bin");
    for (const char* name : {"Kestrun.exe", "Kestrun", "KESTRUN", "Kestrun.sh"}) fs::remove(install / name);
    if (c.localFile) makeFile(c.path, 5);
    serve(std::string(R"([{"path": ")") + c.path + R"(", "size": )" + std::to_string(c.manifestSize) + "}]");
    std::string errorText;
    ASSERT_TRUE(check(errorText)) << errorText;
    EXPECT_EQ(checker.pending.size(), c.pendingCount);
    EXPECT_EQ(maskedReport(), headLines(1, static_cast<int>(c.pendingCount), 0, c.locked) + c.reportRows);
  }
}

TEST_F(ManifestCheckTest, BothLauncherNamesAreLockedTogether) {
  if (!kBareLauncherNameLocked) GTEST_SKIP() << "the launcher is Kestrun.exe itself here";
  checker.lockedPatterns = kShippedLockedPatterns;
  makeFile("Kestrun", 5);
  makeFile("Kestrun.exe", 6);
  serve(R"([{"path": "Kestrun", "size": 7}, {"path": "Kestrun.exe", "size": 8}, {"path": "new.dll", "size": 1}])");
  std::string errorText;
  ASSERT_TRUE(check(errorText)) << errorText;
  ASSERT_EQ(checker.pending.size(), 1u);
  EXPECT_EQ(checker.pending[0].path, "new.dll");
  EXPECT_EQ(maskedReport(), headLines(3, 1, 0, 2) +
                                "  [跳过-自更新锁定] Kestrun  大小不同(本地=5 远端=7)\n"
                                "  [跳过-自更新锁定] Kestrun.exe  大小不同(本地=6 远端=8)\n"
                                "  [待更新] new.dll  本地不存在\n");
}

TEST_F(ManifestCheckTest, FailureInTheWalkLeavesNothingPending) {
  serve(R"([{"path": "first.dll", "size": 1}, {"path": "second.dll", "link": 3}, {"path": "third.dll"}])");
  std::string errorText;
  EXPECT_FALSE(check(errorText));
  EXPECT_EQ(errorText, "更新清单解析失败：[json.exception.type_error.302] type must be string, but is number");
  EXPECT_TRUE(checker.pending.empty());
  EXPECT_EQ(readFile(install / "update.log"), kPreviousReport);
}

TEST_F(ManifestCheckTest, ReportThatCannotBeWrittenIsSkipped) {
  fs::remove(install / "update.log");
  fs::create_directory(install / "update.log");
  serve(R"([{"path": "new.dll", "size": 1}])");
  std::string errorText = "untouched";
  EXPECT_TRUE(check(errorText));
  EXPECT_EQ(errorText, "untouched");
  EXPECT_EQ(checker.pending.size(), 1u);
  EXPECT_TRUE(fs::is_directory(install / "update.log"));
}

TEST_F(ManifestCheckTest, PlatformIsSentUnescaped) {
  UpdateChecker other(server.baseUrl(), "linux&x=1", install.path(), install.path() / "update_staging");
  std::string errorText;
  ASSERT_TRUE(other.checkForUpdates(errorText)) << errorText;
  for (int i = 0; i < 500 && server.requestTargets().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(server.requestTargets(), std::vector<std::string>{"/gis/update/list?platform=linux&x=1"});
}

}  // namespace
