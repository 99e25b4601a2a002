// The two GET transfers against a real HTTP server on 127.0.0.1, well-behaved and not.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "tests/update/file_fetch.h"
#include "update/health_report.h"
#include "update/http_transfer.h"
#include "update/update_checker.h"

namespace {

namespace fs = std::filesystem;
using testing_support::LoopbackServer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

const std::string kFirstPart = "first part of the body;";
const std::string kSecondPart = "second part of the body.";
constexpr std::size_t kTruncatedSent = 100;
constexpr std::size_t kTruncatedDeclared = 1000;

// Texts of the HTTP library for the results these tests provoke.
constexpr const char* kPartialFileText = "Transferred a partial file";
constexpr const char* kTimeoutText = "Timeout was reached";
// Worded "Couldn't connect to server" before curl 8, "Could not connect to server" since.
const std::string kConnectFailedText = curl_easy_strerror(CURLE_COULDNT_CONNECT);
constexpr const char* kWriteErrorText = "Failed writing received data to disk/application";
constexpr const char* kTooManyRedirectsText = "Number of redirects hit maximum amount";

std::string bigBody() {
  std::string body(1 << 20, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7919u) >> 3);
  return body;
}

class HttpTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& http = server.server();
    http.Get("/file", [](const httplib::Request&, httplib::Response& res) { res.set_content("hello body", "text/plain"); });
    http.Get("/big", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(bigBody(), "application/octet-stream");
    });
    http.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/plain");
    });
    http.Get("/redirect", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/fail"); });
    http.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
    http.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("file"), res.set_content("a redirect's own body", "text/plain");
    });
    http.Get("/fail", [](const httplib::Request&, httplib::Response& res) {
      res.status = 500;
      res.set_content("boom", "text/plain");
    });
    http.Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    http.Get("/not-modified", [](const httplib::Request&, httplib::Response& res) { res.status = 304; });
    // Declares 1000 bytes, sends 100, then drops the connection.
    http.Get("/truncated", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(kTruncatedDeclared, "application/octet-stream",
                               [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                 sink.write(std::string(kTruncatedSent, 'x').data(), kTruncatedSent);
                                 return false;
                               });
    });
    // Sends the first part, then nothing until the test lets it go on.
    http.Get("/two-parts", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(kFirstPart.size() + kSecondPart.size(), "application/octet-stream",
                               [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (offset == 0) return sink.write(kFirstPart.data(), kFirstPart.size());
                                 if (!waitForRelease(sink)) return false;
                                 return sink.write(kSecondPart.data(), kSecondPart.size());
                               });
    });
    // Sends one byte, then nothing until the test ends. A single byte lets the library's measured
    // speed fall below one byte per second at once.
    http.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(2, "application/octet-stream", [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        if (offset == 0) return sink.write("s", 1);
        waitForRelease(sink);
        return false;
      });
    });
    // A trickle of one byte every 100 ms: slow, but never stalled.
    http.Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(25, "application/octet-stream", [](std::size_t, std::size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return sink.write("t", 1);
      });
    });
    // A health report answered by two bytes a second, for minutes; and one sent elsewhere.
    http.Get("/drip/gis/update/health", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(1000, "text/plain", [this](std::size_t, std::size_t, httplib::DataSink& sink) {
        for (int i = 0; i < 100 && !released && sink.is_writable(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return !released && sink.write("..", 2);
      });
    });
    http.Get("/bounce/gis/update/health", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/file"); });
    // Bodies around the manifest bound, sent in pieces: exactly at it, declared above it, and
    // one that never ends.
    const auto pieces = [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
      static const std::string piece(64 * 1024, '[');
      (void)offset;
      return sink.write(piece.data(), std::min(length, piece.size()));
    };
    http.Get("/at-bound", [pieces](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(kMaxManifestBytes, "application/json", pieces);
    });
    http.Get("/declared-above", [pieces](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(kMaxManifestBytes + 1, "application/json", pieces);
    });
    http.Get("/endless", [pieces](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/json", [pieces](std::size_t offset, httplib::DataSink& sink) {
        return pieces(offset, std::string::npos, sink);
      });
    });
    server.start();
  }

  void TearDown() override {
    released = true;
    server.stop();
  }

  // False when the client has gone away first.
  bool waitForRelease(httplib::DataSink& sink) {
    while (!released && sink.is_writable()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return released;
  }

  // The server records a request only after answering it; wait until `count` are recorded.
  std::vector<std::string> waitForRequests(std::size_t count) {
    for (int i = 0; i < 500 && server.requestTargets().size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return server.requestTargets();
  }

  std::string url(const std::string& target) const { return server.baseUrl() + target; }

  std::atomic<bool> released{false};
  LoopbackServer server;
  TempDir dir;
  UpdateChecker checker{"", "windows", dir.path(), dir.path() / "update_staging"};
};

struct TransferCase {
  const char* target;
  bool ok;
  const char* errorText;  // after the call; "untouched" when the call succeeds
  std::string body;       // what the string or the file holds afterwards
  FailureKind kind = FailureKind::refused;  // of a failed transfer
};

const std::vector<TransferCase>& transferCases() {
  static const std::vector<TransferCase> cases = {
      {"/file", true, "untouched", "hello body"},
      {"/big", true, "untouched", bigBody()},
      {"/missing", false, "HTTP 404", "not here", FailureKind::status},  // the error page is kept, the caller ignores it
      {"/redirect", false, "HTTP 500", "boom", FailureKind::status},     // judged on the final response
      {"/moved", true, "untouched", "hello body"},  // a relative address; the redirect's body is dropped
      {"/empty", true, "untouched", ""},
      {"/not-modified", true, "untouched", ""},  // a 3xx that ends the transfer is below 400
      {"/truncated", false, kPartialFileText, std::string(kTruncatedSent, 'x'), FailureKind::network},
      {"/loop", false, kTooManyRedirectsText, "", FailureKind::network},
  };
  return cases;
}

TEST_F(HttpTransferTest, StringTransferJudgesLibraryResultThenStatus) {
  for (const TransferCase& c : transferCases()) {
    SCOPED_TRACE(c.target);
    std::string body = "stale content";
    Failure failure{FailureKind::refused, "untouched"};
    EXPECT_EQ(checker.httpGetToString(url(c.target), body, failure), c.ok);
    EXPECT_EQ(failure.text, c.errorText);
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_TRUE(body == c.body) << "body of " << body.size() << " bytes";
  }
}

TEST_F(HttpTransferTest, FileTransferJudgesLibraryResultThenStatus) {
  for (const TransferCase& c : transferCases()) {
    SCOPED_TRACE(c.target);
    const fs::path destination = dir / "download.bin";
    writeFile(destination, "stale content that is longer than some answers");
    std::string errorText = "untouched";
    EXPECT_EQ(fetchToFile(checker, url(c.target), destination, errorText), c.ok);
    EXPECT_EQ(errorText, c.errorText);
    // After a failure the file stays with whatever arrived, but an error page never reaches it.
    const std::string expected = std::string(c.errorText).rfind("HTTP ", 0) == 0 ? "" : c.body;
    EXPECT_TRUE(readFile(destination) == expected) << "file of " << fs::file_size(destination) << " bytes";
  }
}

TEST_F(HttpTransferTest, EveryRequestCarriesTheUserAgent) {
  std::string body;
  std::string errorText;
  checker.httpGetToString(url("/file"), body, errorText);
  checker.httpGetToString(url("/redirect"), body, errorText);
  fetchToFile(checker, url("/file"), dir / "a.bin", errorText);
  checker.cancelCheck = [] { return false; };
  fetchToFile(checker, url("/missing"), dir / "b.bin", errorText);

  EXPECT_EQ(waitForRequests(5), (std::vector<std::string>{"/file", "/redirect", "/fail", "/file", "/missing"}));
  EXPECT_EQ(server.userAgents(), std::vector<std::string>(5, "Kestrun/1.0"));
}

TEST_F(HttpTransferTest, MissingDestinationDirectorySendsNoRequest) {
  const fs::path destination = dir / "no-such-directory" / "file.bin";
  std::string errorText;
  EXPECT_FALSE(fetchToFile(checker, url("/file"), destination, errorText));
  EXPECT_EQ(errorText, "无法写入文件：" + platform::pathToUtf8(destination));
  EXPECT_FALSE(fs::exists(destination));

  // A later request is the first one the server sees.
  std::string body;
  ASSERT_TRUE(checker.httpGetToString(url("/file"), body, errorText));
  EXPECT_EQ(waitForRequests(1), std::vector<std::string>{"/file"});
}

TEST_F(HttpTransferTest, RefusedWriteEndsTheTransferWithTheLibraryText) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  std::string errorText;
  EXPECT_FALSE(fetchToFile(checker, url("/file"), "/dev/full", errorText));
  EXPECT_EQ(errorText, kWriteErrorText);
}

TEST_F(HttpTransferTest, CancelBeforeTheFirstByteLeavesAnEmptyFile) {
  const fs::path destination = dir / "cancelled.bin";
  writeFile(destination, "old content");
  checker.cancelCheck = [] { return true; };
  std::string errorText;
  EXPECT_FALSE(fetchToFile(checker, url("/file"), destination, errorText));
  EXPECT_EQ(errorText, "__CANCELLED__");
  ASSERT_TRUE(fs::exists(destination));
  EXPECT_EQ(fs::file_size(destination), 0u);
}

TEST_F(HttpTransferTest, CancelInMidTransferLeavesThePrefix) {
  const fs::path destination = dir / "cancelled.bin";
  // Cancel as soon as the first part is on disk; the second part is held back until then.
  checker.cancelCheck = [&destination] {
    std::error_code ignored;
    return fs::file_size(destination, ignored) >= kFirstPart.size();
  };
  std::string errorText;
  EXPECT_FALSE(fetchToFile(checker, url("/two-parts"), destination, errorText));
  EXPECT_EQ(errorText, "__CANCELLED__");
  EXPECT_EQ(readFile(destination), kFirstPart);
}

TEST_F(HttpTransferTest, StalledTransferIsGivenUp) {
  checker.stallTimeoutSeconds = 1;
  std::string body;
  std::string errorText;
  EXPECT_FALSE(checker.httpGetToString(url("/stall"), body, errorText));
  EXPECT_EQ(errorText, kTimeoutText);
  EXPECT_EQ(body, "s");

  const fs::path destination = dir / "stalled.bin";
  checker.cancelCheck = [] { return false; };
  EXPECT_FALSE(fetchToFile(checker, url("/stall"), destination, errorText));
  EXPECT_EQ(errorText, kTimeoutText);
  EXPECT_EQ(readFile(destination), "s");
}

TEST_F(HttpTransferTest, SlowButMovingTransferCompletes) {
  checker.stallTimeoutSeconds = 1;
  const fs::path destination = dir / "slow.bin";
  std::string errorText;
  EXPECT_TRUE(fetchToFile(checker, url("/trickle"), destination, errorText)) << errorText;
  EXPECT_EQ(readFile(destination), std::string(25, 't'));
}

// The report's address is what the site counts: one form per outcome, nothing else in it.
TEST(HealthReportUrl, OneFormPerOutcome) {
  const std::pair<HealthReport, std::string> rows[] = {
      {{"r1", "up_to_date", "", false, 0}, "result=up_to_date"},
      {{"r1", "updated", "", false, 0}, "result=updated&early_exit=0"},
      {{"r1", "updated", "", true, 3221225477u}, "result=updated&early_exit=1&exit_code=3221225477"},
      {{"r1", "failed", "apply", false, 0}, "result=failed&step=apply"},
      {{"r1", "cancelled", "", false, 0}, "result=cancelled"},
      {{"r1", "rolled_back", "", false, 134}, "result=rolled_back&exit_code=134"},
  };
  for (const auto& [report, query] : rows) {
    EXPECT_EQ(healthReportUrl("http://h/base", "windows", report),
              "http://h/base/gis/update/health?platform=windows&release=r1&" + query);
  }
}

// A report holds the run (and the installation's lock) for seconds at most, however its answer
// trickles in, and goes to no other server.
TEST_F(HttpTransferTest, HealthReportIsBoundedInTimeAndFollowsNoRedirect) {
  HealthReport report;
  report.release = "r1";
  report.result = "up_to_date";
  checker.baseUrl = url("/drip");
  const auto started = std::chrono::steady_clock::now();
  sendHealthReport(checker, report);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
  checker.baseUrl = url("/bounce");
  sendHealthReport(checker, report);
  const std::vector<std::string> targets = waitForRequests(3);
  EXPECT_EQ(targets.size(), 2u);
  EXPECT_EQ(std::count(targets.begin(), targets.end(), "/file"), 0);
}

TEST_F(HttpTransferTest, RefusedConnectionGivesTheLibraryText) {
  const std::string address = url("/file");
  server.stop();  // nothing listens on the port any more

  std::string body = "stale";
  std::string errorText;
  EXPECT_FALSE(checker.httpGetToString(address, body, errorText));
  EXPECT_EQ(errorText, kConnectFailedText);
  EXPECT_EQ(body, "");

  errorText.clear();
  EXPECT_FALSE(fetchToFile(checker, address, dir / "refused.bin", errorText));
  EXPECT_EQ(errorText, kConnectFailedText);
  EXPECT_TRUE(fs::exists(dir / "refused.bin"));
}

TEST_F(HttpTransferTest, AnswerWithoutHttpStatusCountsAsSuccess) {
  const fs::path source = dir / "source.txt";
  writeFile(source, "local bytes");
  const std::string address = "file://" + platform::pathToUtf8(source);

  std::string body;
  std::string errorText = "untouched";
  EXPECT_TRUE(checker.httpGetToString(address, body, errorText));
  EXPECT_EQ(errorText, "untouched");
  EXPECT_EQ(body, "local bytes");

  const fs::path destination = dir / "copy.txt";
  EXPECT_TRUE(fetchToFile(checker, address, destination, errorText));
  EXPECT_EQ(errorText, "untouched");
  EXPECT_EQ(readFile(destination), "local bytes");
}

TEST_F(HttpTransferTest, MissingCaBundleIsIgnored) {
  checker.caBundlePath = dir / "no-such-bundle.pem";
  std::string body;
  std::string errorText;
  EXPECT_TRUE(checker.httpGetToString(url("/file"), body, errorText)) << errorText;
  EXPECT_EQ(body, "hello body");
  EXPECT_TRUE(fetchToFile(checker, url("/file"), dir / "a.bin", errorText)) << errorText;
}

TEST_F(HttpTransferTest, ManifestBodyAboveTheBoundEndsTheTransfer) {
  struct Case {
    const char* target;
    bool ok;
    std::string errorText;
    FailureKind kind;
  };
  const std::vector<Case> cases = {
      {"/at-bound", true, "untouched", FailureKind::refused},
      {"/declared-above", false, "更新清单超过 64 MiB", FailureKind::tooLarge},
      {"/endless", false, "更新清单超过 64 MiB", FailureKind::tooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    std::string body;
    Failure failure{FailureKind::refused, "untouched"};
    EXPECT_EQ(checker.httpGetToString(url(c.target), body, failure), c.ok);
    EXPECT_EQ(failure.text, c.errorText);
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_LE(body.capacity(), kMaxManifestBytes);
    if (c.ok) {
      EXPECT_EQ(body.size(), kMaxManifestBytes);
    }
  }
}

}  // namespace
