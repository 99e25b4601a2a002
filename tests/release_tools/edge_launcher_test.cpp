// Signed launchers spread over two Varnish edges (deploy/varnish/kestrun.vcl) in front of nginx
// with the project's configuration: they install a release and update to the next, every
// installation ends on one release with its own bytes, and the origin sees revalidations, not
// transfers. An edge that leaves the query string out of its key is caught by the same checks.
#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <regex>
#include <tuple>

#include <gtest/gtest.h>
#include <httplib.h>

#include "tests/release_tools/nginx_server.h"
#include "tests/release_tools/varnish_edge.h"
#include "tests/support/temp_dir.h"
#include "trust/sha256_hex.h"

namespace release_tools_test {
namespace {

using testing_support::readFile;
constexpr int kLaunchers = 4;  // spread over the two edges

struct EdgeRow {
  const char* name;
  bool queryInKey;      // false: the edge keys on the path alone, a wrong set-up it must catch
  bool publishMidWave;  // the next release is published while the update wave runs
};
const EdgeRow kRows[] = {
    {"install then update", true, false},
    {"publish while the update wave runs", true, true},
    {"query string left out of the key", false, false},
};

// Release n: the program, two files with the same size and time (so the same validators at the
// origin) and a table changed in one line, which the update fetches as a patch.
std::map<std::string, std::string> releaseFiles(int n) {
  std::string table;
  for (int line = 0; line < 3000; ++line) table += std::to_string(line * 7919 % 100003) + ",sensor,ok\n";
  return {{"Vardel.exe", readFile(KESTRUN_EDGE_MAIN_PROGRAM)}, {"vardel-behaviour.txt", "exit 0\n"},
          {"data/left.txt", "left " + std::to_string(n) + "\n"}, {"data/right.txt", "rght " + std::to_string(n) + "\n"},
          {"data/table.csv", table.replace(0, 4, "rel" + std::to_string(n))}};
}

class EdgeEndToEnd : public ::testing::TestWithParam<EdgeRow> {
 protected:
  void SetUp() override {
    for (const std::string& why : {whyNginxCannotRun(), whyVarnishCannotRun()}) {
      if (!why.empty()) GTEST_SKIP() << why;
    }
    const ToolRun keygen = runTool(KESTRUN_EDGE_KEYGEN, {(temp / "signing.key").string()}, temp / "runs");
    std::smatch key;
    ASSERT_TRUE(std::regex_search(keygen.out, key, std::regex("-DKESTRUN_MANIFEST_PUBLIC_KEY=(\\S+)"))) << keygen.err;
    publicKey = key[1].str();
  }

  void publish(int n) {
    const fs::path source = temp / ("release-" + std::to_string(n));
    for (const auto& [path, content] : releaseFiles(n)) {
      ASSERT_TRUE(testing_support::writeFileAt(source / path, content, 1700000000 + n * 1000));
    }
    const ToolRun run = runTool(toolPaths().publish,
                                {"--source", source.string(), "--site", (temp / "site").string(), "--platform", "windows",
                                 "--sign-key", (temp / "signing.key").string(), "--health-reports"},
                                temp / "runs");
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }

  fs::path dirOf(int i) const { return temp / ("install-" + std::to_string(i)); }

  // Launcher i, through edge i % 2, started and left running.
  std::unique_ptr<Child> start(int i, const std::vector<std::unique_ptr<VarnishEdge>>& edges) {
    if (!fs::exists(dirOf(i) / "Kestrun")) {
      fs::create_directories(dirOf(i));
      fs::copy_file(KESTRUN_EDGE_LAUNCHER, dirOf(i) / "Kestrun");
    }
    return std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/env", "-u", "DISPLAY", "HOME=" + (temp / "home").string(),
                                 "XDG_DATA_HOME=" + (temp / "home/data").string(),
                                 "KESTRUN_TEST_BASE_URL=" + edges[i % 2]->baseUrl(),
                                 "KESTRUN_TEST_MANIFEST_KEY=" + publicKey, (dirOf(i) / "Kestrun").string()},
        dirOf(i).string() + ".out", dirOf(i).string() + ".err");
  }

  // The release an installation holds whole ("1", "2"), "none" or "mix".
  std::string installed(int i) const {
    if (!fs::exists(dirOf(i) / "Vardel.exe")) return "none";
    for (int n : {1, 2}) {
      bool whole = true;
      for (const auto& [path, content] : releaseFiles(n)) whole = whole && readFile(dirOf(i) / path) == content;
      if (whole) return std::to_string(n);
    }
    return "mix";
  }

  std::string launcherLog(int i) const {
    std::string log;
    for (const auto& item : fs::directory_iterator(dirOf(i) / "logs")) log += readFile(item.path());
    return log;
  }

  testing_support::TempDir temp;
  std::string publicKey;
};

// The origin's log lines from `offset` on, as "REQUEST STATUS BYTES".
std::vector<std::string> originLines(const fs::path& log, std::size_t offset) {
  const std::string text = readFile(log).substr(offset);
  const std::regex line("\"GET ([^ ]+) HTTP/1.1\" (\\d+ \\d+)");
  std::vector<std::string> lines;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
    lines.push_back((*it)[1].str() + " " + (*it)[2].str());
  }
  return lines;
}

TEST_P(EdgeEndToEnd, EveryInstallationEndsOnOneReleaseWithItsOwnBytes) {
  const EdgeRow& row = GetParam();
  publish(1);
  NginxServer origin(temp / "site", freeLoopbackPort(), temp / "origin");
  ASSERT_TRUE(origin.running()) << origin.failure();
  std::string vcl = readFile(KESTRUN_EDGE_VCL);
  if (!row.queryInKey) vcl = std::regex_replace(vcl, std::regex("hash_data\\(req\\.url\\)"), R"(hash_data(regsub(req.url, "\?.*$", "")))");
  testing_support::writeFile(temp / "edge.vcl", vcl);
  std::vector<std::unique_ptr<VarnishEdge>> edges;
  for (const char* name : {"edge-a", "edge-b"}) {
    edges.push_back(std::make_unique<VarnishEdge>(origin.baseUrl(), temp / "edge.vcl", temp / name));
    ASSERT_TRUE(edges.back()->running()) << edges.back()->failure();
  }
  const auto wave = [&](const std::function<void()>& meanwhile) {
    std::vector<std::unique_ptr<Child>> runs;
    for (int i = 0; i < kLaunchers; ++i) runs.push_back(start(i, edges));
    meanwhile();
    for (auto& run : runs) EXPECT_EQ(run->wait(60000), 0);
  };
  const auto oneByOne = [&](int launchers) {
    for (int i = 0; i < launchers; ++i) EXPECT_EQ(start(i, edges)->wait(60000), 0);
  };

  // First installations one at a time, so that on the wrong edge the right file's request always
  // finds the left file's copy under its key (one launcher per edge: each spends seconds retrying).
  oneByOne(row.queryInKey ? kLaunchers : 2);
  for (int i = 0; i < 2 && !row.queryInKey; ++i) {
    EXPECT_EQ(installed(i), "none");
    EXPECT_NE(launcherLog(i).find("更新下载失败：下载文件失败：data/right.txt（sha256 不一致：应为 " +
                                  sha256Hex(releaseFiles(1)["data/right.txt"]) + "，收到 " +
                                  sha256Hex(releaseFiles(1)["data/left.txt"]) + "）"),
              std::string::npos) << launcherLog(i);
  }
  if (!row.queryInKey) return;
  for (int i = 0; i < kLaunchers; ++i) EXPECT_EQ(installed(i), "1") << i;
  // Straight through an edge: a resumed file's range, and a refusal passed on and never kept.
  httplib::Client client(edges[0]->baseUrl());
  const std::string left = "/gis/update/file?platform=windows&path=data/left.txt";
  const auto whole = client.Get(left);
  ASSERT_TRUE(whole);
  for (const auto& [ifRange, status, body] : std::vector<std::tuple<std::string, int, std::string>>{
           {whole->get_header_value("ETag"), 206, "left"}, {"\"changed\"", 200, "left 1\n"}}) {
    const auto answer = client.Get(left, {{"Range", "bytes=0-3"}, {"If-Range", ifRange}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, status) << ifRange;
    EXPECT_EQ(answer->body, body) << ifRange;
  }
  const std::string missing = "/gis/update/file?platform=windows&path=missing.txt";
  for (int i = 0; i < 2; ++i) EXPECT_EQ(client.Get(missing)->status, 404);
  EXPECT_TRUE(waitUntil([&] {
    const auto lines = originLines(origin.accessLog(), 0);
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(missing + " 404 ", 0) == 0; }) == 2;
  }, 10000));

  // The update wave; a run whose check or download spans the publish fails cleanly and keeps the
  // release it had.
  if (!row.publishMidWave) publish(2);
  wave([&] { if (row.publishMidWave) publish(2); });
  for (int i = 0; i < kLaunchers; ++i) {
    const std::string now = installed(i);
    EXPECT_TRUE(now == "2" || (row.publishMidWave && now == "1")) << i << ": " << now << "\n" << launcherLog(i);
  }
  oneByOne(kLaunchers);
  for (int i = 0; i < kLaunchers; ++i) EXPECT_EQ(installed(i), "2") << i;
  // Each object crossed from the origin once per edge: it is kept, never asked for again.
  std::map<std::string, int> objects;
  for (const std::string& line : originLines(origin.accessLog(), 0)) {
    if (line.rfind("/gis/update/object/", 0) == 0) ++objects[line.substr(0, line.find(' '))];
  }
  // The compressed copies of the program and the table in release 1, the table's patch in 2.
  EXPECT_EQ(objects.size(), 3u);
  for (const auto& [url, count] : objects) EXPECT_EQ(count, 2) << url;

  // Up to date: the origin sees each run's manifest and signature as revalidations without a
  // body, and its health report.
  const std::size_t offset = readFile(origin.accessLog()).size();
  oneByOne(kLaunchers);
  const std::string release = fs::read_symlink(temp / "site/current").filename().string();
  std::vector<std::string> expected;
  for (int i = 0; i < kLaunchers; ++i) {
    expected.insert(expected.end(), {"/gis/update/list?platform=windows 304 0", "/gis/update/signature?platform=windows 304 0",
                                     "/gis/update/health?platform=windows&release=" + release + "&result=up_to_date 204 0"});
  }
  // nginx writes a line as its answer ends, which may be just after the launcher has it.
  EXPECT_TRUE(waitUntil([&] { return originLines(origin.accessLog(), offset).size() >= expected.size(); }, 10000));
  EXPECT_EQ(originLines(origin.accessLog(), offset), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, EdgeEndToEnd, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<EdgeRow>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace release_tools_test
