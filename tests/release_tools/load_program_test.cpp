// kestrun-load in small: 20 simulated launchers against nginx and against the release server,
// both serving the same published site; and the bounds it refuses to go beyond.

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/release_tools/nginx_server.h"
#include "tests/release_tools/tool_process.h"
#include "tests/support/temp_dir.h"

namespace release_tools_test {
namespace {

constexpr int kClients = 20;
constexpr int kFilesPerClient = 50;

class LoadProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    // 60 files of 1 to 60 KiB, so that clients ask for different files of different sizes.
    for (int i = 1; i <= 60; ++i) {
      testing_support::writeFile(temp_ / "source/data" / ("file " + std::to_string(i) + ".dat"),
                                 std::string(static_cast<std::size_t>(i) * 1024, 'x'));
    }
    fs::create_symlink("data/file 1.dat", temp_ / "source/first");
    const ToolRun publish = runTool(toolPaths().publish,
                                    {"--source", (temp_ / "source").string(), "--site",
                                     site().string(), "--platform", "windows"},
                                    temp_ / "runs");
    ASSERT_EQ(publish.exitCode, 0) << publish.err;
  }

  fs::path site() const { return temp_ / "site"; }

  // Runs the generator and checks its report: every request answered, no error.
  void expectCleanRun(const std::string& baseUrl) {
    const ToolRun run = runTool(toolPaths().load,
                                {"--base", baseUrl, "--clients", std::to_string(kClients),
                                 "--files", std::to_string(kFilesPerClient), "--time-limit", "120"},
                                temp_ / "runs", 180000);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const int requests = kClients * (kFilesPerClient + 1);
    EXPECT_NE(run.out.find("kestrun-load: " + std::to_string(requests) + " requests in "), std::string::npos)
        << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(latency p50 [0-9.]+ ms, p99 [0-9.]+ ms)")))
        << run.out;
    EXPECT_NE(run.out.find("20 of 20 clients finished, 0 errors\n"), std::string::npos) << run.out;
  }

  testing_support::TempDir temp_;
};

TEST_F(LoadProgram, NginxServesTwentyLaunchersWithoutAnError) {
  const std::string reason = whyNginxCannotRun();
  if (!reason.empty()) GTEST_SKIP() << reason;
  NginxServer nginx(site(), freeLoopbackPort(), temp_ / "nginx");
  ASSERT_TRUE(nginx.running()) << nginx.failure();
  expectCleanRun(nginx.baseUrl());
}

TEST_F(LoadProgram, TheReleaseServerServesTwentyLaunchersWithoutAnError) {
  const fs::path out = temp_ / "server.out";
  Child server({toolPaths().releaseServer.string(), "--root", (site() / "current").string(),
                "--port", "0"},
               out, temp_ / "server.err");
  std::smatch match;
  const std::regex serving(R"(on http://127\.0\.0\.1:(\d+))");
  std::string text;
  ASSERT_TRUE(waitUntil(
      [&] {
        text = testing_support::readFile(out);
        return std::regex_search(text, match, serving);
      },
      10000));
  expectCleanRun("http://127.0.0.1:" + match[1].str());
}

struct Refused {
  std::vector<std::string> arguments;
  std::string error;
};

TEST(LoadBounds, RefusesAnythingButLoopbackAndUnboundedRuns) {
  testing_support::TempDir temp;
  const std::vector<Refused> cases = {
      {{"--base", "http://10.0.0.1:80"}, "--base must be http://127.0.0.1:PORT: \"http://10.0.0.1:80\""},
      {{"--base", "http://localhost:80"}, "--base must be http://127.0.0.1:PORT: \"http://localhost:80\""},
      {{"--base", "http://127.0.0.1:99999"}, "--base must be http://127.0.0.1:PORT: \"http://127.0.0.1:99999\""},
      {{"--base", "http://127.0.0.1.evil:80"}, "--base must be http://127.0.0.1:PORT: \"http://127.0.0.1.evil:80\""},
      {{}, "--base must be http://127.0.0.1:PORT: \"\""},
      {{"--base", "http://127.0.0.1:1", "--clients", "501"}, "--clients needs a number from 1 to 500: 501"},
      {{"--base", "http://127.0.0.1:1", "--time-limit", "0"}, "--time-limit needs a number from 1 to 600: 0"},
      {{"--base", "http://127.0.0.1:1", "--max-requests", "-5"}, "--max-requests needs a number from 1 to 1000000: -5"},
      {{"--base", "http://127.0.0.1:1", "--platform", "../x"}, "bad platform: ../x"},
      {{"--base", "http://127.0.0.1:1", "--verbose", "1"}, "unknown option: --verbose"},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.error);
    const ToolRun run = runTool(toolPaths().load, c.arguments, temp.path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "kestrun-load: " + c.error);
  }
}

TEST(LoadBounds, StopsAtTheRequestLimitAndCountsUnreachableServersAsErrors) {
  testing_support::TempDir temp;
  const int closedPort = freeLoopbackPort();
  const ToolRun run = runTool(toolPaths().load,
                              {"--base", "http://127.0.0.1:" + std::to_string(closedPort),
                               "--clients", "3", "--max-requests", "2"},
                              temp.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("kestrun-load: 2 requests in "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0 of 3 clients finished, 2 errors\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("kestrun-load: error: Couldn't connect to server: 2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("kestrun-load: stopped by the request limit\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace release_tools_test
