#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/download_pending.h"
#include "tests/staging/staging_test_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"
#include "update/update_checker.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

// A release server on loopback: each file answers with its content, after first answering
// with the status codes scripted for it (one per request). A file marked as stalling holds
// its request until the test ends.
class ReleaseServer {
 public:
  ReleaseServer() {
    loopback_.server().Get("/gis/update/file", [this](const httplib::Request& request, httplib::Response& response) {
      const std::string path = request.get_param_value("path");
      int status = 200;
      std::string content;
      bool stall = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        targets_.push_back(request.target);
        ++requests_[path];
        auto script = failures_.find(path);
        connections_.insert(request.remote_port);
        if (script != failures_.end() && !script->second.empty()) {
          status = script->second.front();
          script->second.erase(script->second.begin());
        }
        content = files_.count(path) ? files_[path] : std::string();
        // A scripted 0 holds this one request; a stalling file holds every request.
        stall = stalling_.count(path) != 0 || status == 0;
        if (!files_.count(path)) status = 404;
      }
      if (stall) {
        stalled_ = true;
        while (!released_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      response.status = status;
      response.set_content(status == 200 ? content : "failed", "application/octet-stream");
    });
    // Connections are kept as long as the client keeps them.
    loopback_.server().set_keep_alive_max_count(1000);
    loopback_.start();
  }
  ~ReleaseServer() {
    released_ = true;
    loopback_.stop();
  }

  void addFile(const std::string& path, const std::string& content, std::vector<int> failures = {}) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_[path] = content;
    failures_[path] = std::move(failures);
  }
  void stallFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    stalling_[path] = true;
  }
  int requests(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_[path];
  }
  bool stalled() const { return stalled_; }
  // The connections the requests came on, told apart by the client's port.
  std::size_t connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_.size();
  }
  // Closes a kept connection after this long without a request, without telling the client.
  void closeConnectionsIdleFor(int seconds) { loopback_.server().set_keep_alive_timeout(seconds); }
  std::string baseUrl() const { return loopback_.baseUrl(); }
  // Recorded by the handler, before the answer goes out, so complete once a transfer has ended.
  std::vector<std::string> requestTargets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_;
  }

 private:
  testing_support::LoopbackServer loopback_;
  std::mutex mutex_;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::vector<int>> failures_;
  std::map<std::string, bool> stalling_;
  std::map<std::string, int> requests_;
  std::set<int> connections_;
  std::vector<std::string> targets_;
  std::atomic<bool> stalled_{false};
  std::atomic<bool> released_{false};
};

// Without a size (negative) unless one is given, so that the staged file is taken whatever
// its length.
ManifestEntry fileEntry(const std::string& path, std::int64_t mtime = 0, std::int64_t size = -1) {
  ManifestEntry entry;
  entry.path = path;
  entry.size = size;
  entry.mtime = mtime;
  return entry;
}
ManifestEntry linkEntry(const std::string& path, const std::string& target) {
  ManifestEntry entry = fileEntry(path, 0, 0);
  entry.link = target;
  return entry;
}

// Every test runs with one file at a time and with eight at once: what the caller sees is the
// same, only the requests made after an entry that fails may differ.
class DownloadPendingTest : public ::testing::TestWithParam<int> {
 protected:
  DownloadPendingTest()
      : install(root / "install"),
        staging(install / "update_staging"),
        checker(server.baseUrl(), "windows", install, staging) {
    fs::create_directories(install);
    checker.parallelTransfers = GetParam();
  }

  bool parallel() const { return GetParam() > 1; }
  // In arrival order one at a time; in any order with several at once.
  std::vector<std::string> requestsInOrder(std::vector<std::string> expected) {
    std::vector<std::string> actual = server.requestTargets();
    if (parallel()) {
      std::sort(actual.begin(), actual.end());
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(actual, expected);
    return actual;
  }

  std::string fileTarget(const std::string& encodedPath) const {
    return "/gis/update/file?platform=windows&path=" + encodedPath;
  }

  bool download(std::string& errorText) {
    return downloadPending(checker, [this](int current, int total) { progress.emplace_back(current, total); },
                                   errorText);
  }

  staging_test::CapturedLog log;
  testing_support::TempDir root;
  ReleaseServer server;
  fs::path install;
  fs::path staging;
  UpdateChecker checker;
  std::vector<std::pair<int, int>> progress;
};

TEST_P(DownloadPendingTest, FetchesEveryEntryAndReportsProgressBeforeEach) {
  server.addFile("a.txt", "alpha");
  server.addFile("bin/b.dll", "bravo");
  server.addFile("c/d/e.bin", "charlie");
  checker.pending = {fileEntry("a.txt"), fileEntry("bin/b.dll"), fileEntry("c/d/e.bin")};

  std::string errorText = "unchanged";
  ASSERT_TRUE(download(errorText));
  EXPECT_EQ(errorText, "unchanged");
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}}));
  EXPECT_EQ(staging_test::describeTree(staging),
            (std::vector<std::string>{"a.txt:alpha", "bin/", "bin/b.dll:bravo", "c/", "c/d/", "c/d/e.bin:charlie"}));
  requestsInOrder({fileTarget("a.txt"), fileTarget("bin/b.dll"), fileTarget("c/d/e.bin")});
  EXPECT_TRUE(log.messages("WARN").empty());
}

TEST_P(DownloadPendingTest, EncodesEachSegmentOfThePathAndKeepsItsSlashes) {
  const std::string spaced = "bin/My File+1.dll";
  const std::string unicode = "数据/Ünï cödé.txt";
  server.addFile(spaced, "spaced");
  server.addFile(unicode, "unicode");
  checker.pending = {fileEntry(spaced), fileEntry(unicode)};

  std::string errorText;
  ASSERT_TRUE(download(errorText)) << errorText;
  requestsInOrder({fileTarget("bin/My%20File%2B1.dll"),
                   fileTarget("%E6%95%B0%E6%8D%AE/%C3%9Cn%C3%AF%20c%C3%B6d%C3%A9.txt")});
  EXPECT_EQ(readFile(staging / platform::pathFromUtf8(spaced)), "spaced");
  EXPECT_EQ(readFile(staging / platform::pathFromUtf8(unicode)), "unicode");
}

TEST_P(DownloadPendingTest, SetsTheServerTimeOnlyWhenOneIsGiven) {
  server.addFile("dated.dll", "d");
  server.addFile("undated.dll", "u");
  const std::int64_t givenSeconds = 1600000000;
  checker.pending = {fileEntry("dated.dll", givenSeconds), fileEntry("undated.dll", 0)};
  const std::int64_t beforeSeconds = platform::fileTimeToUnixSeconds(platform::currentFileTime());

  std::string errorText;
  ASSERT_TRUE(download(errorText)) << errorText;
  std::int64_t fileTime = 0;
  ASSERT_FALSE(platform::lastWriteFileTime(staging / "dated.dll", fileTime));
  EXPECT_EQ(fileTime, platform::unixSecondsToFileTime(givenSeconds));
  ASSERT_FALSE(platform::lastWriteFileTime(staging / "undated.dll", fileTime));
  EXPECT_GE(platform::fileTimeToUnixSeconds(fileTime), beforeSeconds - 2);
}

TEST_P(DownloadPendingTest, LinkEntryReplacesAStagedFileAndMayDangle) {
  SKIP_WITHOUT_SYMLINKS(install);
  server.addFile("lib/libz.so", "old copy");
  checker.pending = {fileEntry("lib/libz.so"), linkEntry("lib/libz.so", "libz.so.1"),
                     linkEntry("lib/other.so", "../lib//missing.so")};

  std::string errorText;
  ASSERT_TRUE(download(errorText)) << errorText;
  EXPECT_EQ(staging_test::describeTree(staging),
            (std::vector<std::string>{"lib/", "lib/libz.so@libz.so.1", "lib/other.so@../lib/missing.so"}));
  // Nothing is fetched for a link entry.
  EXPECT_EQ(server.requestTargets(), (std::vector<std::string>{fileTarget("lib/libz.so")}));
}

TEST_P(DownloadPendingTest, FailsWhenALinkCannotBeCreated) {
  SKIP_WITHOUT_SYMLINKS(install);
  server.addFile("a", "a regular file where a directory is needed");
  server.addFile("never.dll", "never");
  checker.pending = {fileEntry("a"), linkEntry("a/b", "target"), fileEntry("never.dll")};

  std::string errorText;
  EXPECT_FALSE(download(errorText));
  EXPECT_EQ(errorText, "创建软链接失败：a/b（" + std::error_code(ENOTDIR, std::system_category()).message() + "）");
  EXPECT_EQ(server.requests("never.dll"), 0);
}

TEST_P(DownloadPendingTest, EmptiesTheStagingDirectoryFirst) {
  writeFile(staging / "left/over.dll", "old run");
  server.addFile("new.dll", "new");
  checker.pending = {fileEntry("new.dll")};

  std::string errorText;
  ASSERT_TRUE(download(errorText)) << errorText;
  EXPECT_EQ(staging_test::describeTree(staging), (std::vector<std::string>{"new.dll:new"}));
}

TEST_P(DownloadPendingTest, EmptyPendingLeavesTheStagingDirectoryAlone) {
  writeFile(staging / "left/over.dll", "old run");
  std::string errorText = "unchanged";
  ASSERT_TRUE(download(errorText));
  EXPECT_EQ(errorText, "unchanged");
  EXPECT_EQ(staging_test::describeTree(staging), (std::vector<std::string>{"left/", "left/over.dll:old run"}));
  EXPECT_TRUE(progress.empty());
  EXPECT_TRUE(server.requestTargets().empty());
}

TEST_P(DownloadPendingTest, FailsWhenTheStagingDirectoryCannotBeMade) {
  writeFile(install / "blocker", "a file where a directory is needed");
  checker.stagingDir = install / "blocker" / "update_staging";
  server.addFile("a.dll", "a");
  checker.pending = {fileEntry("a.dll")};

  std::string errorText;
  EXPECT_FALSE(download(errorText));
  EXPECT_EQ(errorText, "无法创建更新暂存目录：" + platform::pathToUtf8(checker.stagingDir));
  EXPECT_TRUE(progress.empty());
  EXPECT_TRUE(server.requestTargets().empty());
}

TEST_P(DownloadPendingTest, RetriesAFailedTransferAndGoesOn) {
  server.addFile("bin/app.dll", "app", {503, 503});
  server.addFile("next.dll", "next");
  checker.pending = {fileEntry("bin/app.dll"), fileEntry("next.dll")};

  const auto started = std::chrono::steady_clock::now();
  std::string errorText;
  ASSERT_TRUE(download(errorText)) << errorText;
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(log.messages("WARN"), (std::vector<std::string>{
                                      "下载文件失败，将进行第 1/3 次重试：bin/app.dll（HTTP 503）",
                                      "下载文件失败，将进行第 2/3 次重试：bin/app.dll（HTTP 503）",
                                  }));
  EXPECT_EQ(server.requests("bin/app.dll"), 3);
  EXPECT_EQ(readFile(staging / "bin/app.dll"), "app");
  EXPECT_EQ(readFile(staging / "next.dll"), "next");
}

TEST_P(DownloadPendingTest, GivesUpAfterThreeRetriesWithTheLastError) {
  server.addFile("bin/app.dll", "app", {503, 503, 503, 500});
  server.addFile("never.dll", "never");
  checker.pending = {fileEntry("bin/app.dll"), fileEntry("never.dll")};

  std::string errorText;
  EXPECT_FALSE(download(errorText));
  EXPECT_EQ(errorText, "下载文件失败：bin/app.dll（HTTP 500）");
  EXPECT_EQ(log.messages("WARN"), (std::vector<std::string>{
                                      "下载文件失败，将进行第 1/3 次重试：bin/app.dll（HTTP 503）",
                                      "下载文件失败，将进行第 2/3 次重试：bin/app.dll（HTTP 503）",
                                      "下载文件失败，将进行第 3/3 次重试：bin/app.dll（HTTP 503）",
                                  }));
  EXPECT_EQ(server.requests("bin/app.dll"), 4);
  EXPECT_EQ(server.requests("never.dll"), parallel() ? 1 : 0);
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 2}}));
}

TEST_P(DownloadPendingTest, CancelBeforeAnEntryStopsWithoutProgress) {
  writeFile(staging / "old.dll", "old run");
  server.addFile("a.dll", "a");
  checker.pending = {fileEntry("a.dll")};
  checker.cancelCheck = [] { return true; };

  std::string errorText;
  EXPECT_FALSE(download(errorText));
  EXPECT_EQ(errorText, "__CANCELLED__");
  EXPECT_TRUE(progress.empty());
  EXPECT_TRUE(server.requestTargets().empty());
  // The reset has already happened.
  EXPECT_TRUE(fs::is_directory(staging));
  EXPECT_TRUE(staging_test::describeTree(staging).empty());
}

// A part left by a failed run, as its record names it, against what the next run wants.
struct KeptPartCase {
  const char* name;
  std::string part;      // the staged bytes of data/big.bin
  std::string record;    // the record's line; {SHA} stands for the entry's digest
  std::string sha256;    // of the entry; empty: none
  bool kept;
};

TEST_P(DownloadPendingTest, APartSurvivesOnlyForTheVerySameFile) {
  const std::string sha = std::string(64, 'a');
  const std::string line = "{SHA}\t10\t\"etag\"\tdata/big.bin\n";
  const std::vector<KeptPartCase> cases = {
      {"the same file", "12345", line, sha, true},
      {"another digest", "12345", std::string(64, 'b') + line.substr(5), sha, false},
      {"another size", "12345", "{SHA}\t11\t\"etag\"\tdata/big.bin\n", sha, false},
      {"no record", "12345", "", sha, false},
      {"no digest to check it", "12345", line, "", false},
      {"the whole file already", "1234567890", line, sha, false},
      {"no validator", "12345", "{SHA}\t10\t\tdata/big.bin\n", sha, false},
  };
  checker.cancelCheck = [] { return true; };  // the reset, then nothing
  for (const KeptPartCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(staging);
    writeFile(staging / "data/big.bin", c.part);
    writeFile(staging / "left/over.dll", "old run");
    std::string record = c.record;
    if (record.rfind("{SHA}", 0) == 0) record.replace(0, 5, sha);
    writeFile(install / "update_resume.txt", record);
    ManifestEntry entry = fileEntry("data/big.bin", 0, 10);
    entry.sha256 = c.sha256;
    checker.pending = {entry};
    std::string errorText;
    EXPECT_FALSE(download(errorText));
    const std::vector<std::string> kept = {"data/", "data/big.bin:12345"};
    EXPECT_EQ(staging_test::describeTree(staging), c.kept ? kept : std::vector<std::string>());
    // The cancelled run records its parts again.
    EXPECT_EQ(fs::exists(install / "update_resume.txt"), c.kept);
  }
}

TEST_P(DownloadPendingTest, CancelledTransferIsNotRetried) {
  server.addFile("big.dll", "big");
  server.stallFile("big.dll");
  server.addFile("never.dll", "never");
  checker.pending = {fileEntry("big.dll"), fileEntry("never.dll")};
  // The user cancels while the server holds the transfer.
  checker.cancelCheck = [this] { return server.stalled(); };

  std::string errorText;
  EXPECT_FALSE(download(errorText));
  EXPECT_EQ(errorText, "__CANCELLED__");
  EXPECT_TRUE(log.messages("WARN").empty());
  EXPECT_EQ(server.requests("big.dll"), 1);
  // Several at once, it may have been asked for before the cancel.
  EXPECT_LE(server.requests("never.dll"), parallel() ? 1 : 0);
}

TEST_P(DownloadPendingTest, CancelDuringARetryWaitIsSeenWhenTheWaitEnds) {
  server.addFile("bin/app.dll", "app", {503, 503, 503, 503});
  checker.pending = {fileEntry("bin/app.dll")};
  // The user cancels once the first retry has been announced, that is during its wait.
  checker.cancelCheck = [this] { return log.contains("第 1/3 次重试"); };

  std::string errorText;
  EXPECT_FALSE(download(errorText));
  EXPECT_EQ(errorText, "__CANCELLED__");
  EXPECT_EQ(log.messages("WARN"),
            (std::vector<std::string>{"下载文件失败，将进行第 1/3 次重试：bin/app.dll（HTTP 503）"}));
  EXPECT_EQ(server.requests("bin/app.dll"), 1);
}

TEST_P(DownloadPendingTest, TheFirstFailingEntryOfTheListNamesTheError) {
  server.addFile("a.dll", "a");
  server.addFile("b.dll", "b", {500, 500, 500, 500});
  server.addFile("c.dll", "c", {404, 404, 404, 404});
  checker.pending = {fileEntry("a.dll"), fileEntry("b.dll"), fileEntry("c.dll")};

  std::string errorText;
  EXPECT_FALSE(download(errorText));
  EXPECT_EQ(errorText, "下载文件失败：b.dll（HTTP 500）");
  // c.dll's own retries, made alongside with several at once, are never told.
  EXPECT_EQ(log.messages("WARN"), (std::vector<std::string>{
                                      "下载文件失败，将进行第 1/3 次重试：b.dll（HTTP 500）",
                                      "下载文件失败，将进行第 2/3 次重试：b.dll（HTTP 500）",
                                      "下载文件失败，将进行第 3/3 次重试：b.dll（HTTP 500）",
                                  }));
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}}));
}

// Connections are kept from one file to the next; one the server closed while it idled costs
// a new connection, never a failed file; a kept connection that stalls is given up like any other.
TEST_P(DownloadPendingTest, KeptConnectionsAreReusedReplacedWhenClosedAndGivenUpWhenStalled) {
  struct Case {
    const char* name;
    bool idleFirst;  // a first download, then the connections idle until the server closes them
    std::vector<int> thirdFileScript;
    std::vector<std::string> warnings;
  };
  const std::vector<Case> cases = {
      {"reused", false, {}, {}},
      {"closed by the server while idle", true, {}, {}},
      {"stalled once", false, {0}, {"下载文件失败，将进行第 1/3 次重试：f2.dll（Timeout was reached）"}},
  };
  constexpr int kFiles = 12;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReleaseServer caseServer;
    caseServer.closeConnectionsIdleFor(1);
    UpdateChecker caseChecker(caseServer.baseUrl(), "windows", install, staging);
    caseChecker.parallelTransfers = GetParam();
    caseChecker.stallTimeoutSeconds = 1;
    for (int i = 0; i < kFiles; ++i) {
      const std::string path = "f" + std::to_string(i) + ".dll";
      caseServer.addFile(path, "bytes of " + path, i == 2 ? c.thirdFileScript : std::vector<int>{});
      caseChecker.pending.push_back(fileEntry(path));
    }
    std::string errorText;
    std::size_t connectionsBefore = 0;
    if (c.idleFirst) {
      ASSERT_TRUE(downloadPending(caseChecker, nullptr, errorText)) << errorText;
      connectionsBefore = caseServer.connections();
      std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    }
    log.mark();

    EXPECT_TRUE(downloadPending(caseChecker, nullptr, errorText)) << errorText;
    EXPECT_EQ(readFile(staging / "f11.dll"), "bytes of f11.dll");
    std::vector<std::string> expected;
    for (const std::string& warning : c.warnings) expected.push_back("WARN " + warning);
    EXPECT_EQ(log.linesSinceMark(), expected);
    const std::size_t connections = caseServer.connections();
    if (c.idleFirst) {
      EXPECT_GT(connections, connectionsBefore);
    } else {
      // One connection per file in flight, and one more after the stall.
      EXPECT_LE(connections, static_cast<std::size_t>(GetParam()) + c.thirdFileScript.size());
    }
  }
}

TEST_P(DownloadPendingTest, AStagedFileOfAnotherSizeIsAFailedTransfer) {
  struct Case {
    std::string content;
    std::int64_t size;
    std::string mismatch;  // empty: the file is accepted
  };
  const std::vector<Case> cases = {
      {"hello", 5, ""},
      {"", 0, ""},
      {"hello", -1, ""},
      {"hello", 9, "文件大小不符：清单=9，实际=5"},
      {"hello", 2, "文件超出清单大小：清单=2，已收到=5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " for " + std::to_string(c.content.size()) + " bytes");
    server.addFile("a.dll", c.content);
    checker.pending = {fileEntry("a.dll", 0, c.size)};
    log.mark();

    std::string errorText;
    const bool done = download(errorText);
    EXPECT_EQ(done, c.mismatch.empty()) << errorText;
    if (done) {
      EXPECT_EQ(readFile(staging / "a.dll"), c.content);
      EXPECT_TRUE(log.linesSinceMark().empty());
      continue;
    }
    EXPECT_EQ(errorText, "下载文件失败：a.dll（" + c.mismatch + "）");
    std::vector<std::string> retries;
    for (int n = 1; n <= 3; ++n) {
      retries.push_back("WARN 下载文件失败，将进行第 " + std::to_string(n) + "/3 次重试：a.dll（" + c.mismatch + "）");
    }
    EXPECT_EQ(log.linesSinceMark(), retries);
  }
}

INSTANTIATE_TEST_SUITE_P(OneAtATimeAndEightAtOnce, DownloadPendingTest, ::testing::Values(1, 8),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == 1 ? std::string("OneAtATime") : std::string("EightAtOnce");
                         });

}  // namespace
