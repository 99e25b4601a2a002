// The release server's answers, in-process on a loopback port: the generated manifest, the
// file answers with their confinement, and the faults file.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/expected_answers.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "tools/release_server/fault_plan.h"
#include "tools/release_server/release_routes.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

class ReleaseServerRoutes : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path windows = releaseRoot() / "windows";
    writeFile(windows / "Vardel.exe", "program");
    testing_support::setFileTime(windows / "Vardel.exe", 1700000000);
    writeFile(windows / "bin/My File+1 ü.dll", "library");
    testing_support::setFileTime(windows / "bin/My File+1 ü.dll", 1700000300);
    fs::create_directories(windows / "empty dir");
    fs::create_symlink("bin/My File+1 ü.dll", windows / "current");
    fs::create_directory_symlink("bin", windows / "bin link");
    // Links that lead out of the release, relative and absolute.
    writeFile(secret(), "secret");
    fs::create_symlink("../../../secret.txt", windows / "bin/up");
    fs::create_symlink(secret(), windows / "outside");
    writeFile(releaseRoot() / "linux/a.txt", "other platform");
    testing_support::setFileTime(releaseRoot() / "linux/a.txt", 1600000000);

    release_server::ServerSettings settings;
    settings.root = releaseRoot();
    settings.faultsFile = faultsFile();
    release_server::installReleaseRoutes(server_.server(), settings);
    server_.start();
  }

  fs::path releaseRoot() const { return temp_.path() / "root"; }
  fs::path secret() const { return temp_.path() / "secret.txt"; }
  fs::path faultsFile() const { return temp_.path() / "faults.txt"; }

  // The target is sent as written: the tests encode it themselves.
  httplib::Result get(const std::string& target, const httplib::Headers& headers = {}) {
    httplib::Client client("127.0.0.1", server_.port());
    client.set_url_encode(false);
    return client.Get(target.c_str(), headers);
  }

 private:
  testing_support::TempDir temp_;
  testing_support::LoopbackServer server_;
};

TEST_F(ReleaseServerRoutes, ManifestListsFilesAndLinksSortedByPath) {
  const auto result = get("/gis/update/list?platform=windows");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
  // Directories are not listed; a link to a directory is listed as a link, not descended.
  EXPECT_EQ(result->body,
            "[{\"path\":\"Vardel.exe\",\"size\":7,\"mtime\":1700000000},"
            "{\"path\":\"bin link\",\"link\":\"bin\"},"
            "{\"path\":\"bin/My File+1 ü.dll\",\"size\":7,\"mtime\":1700000300},"
            "{\"path\":\"bin/up\",\"link\":\"../../../secret.txt\"},"
            "{\"path\":\"current\",\"link\":\"bin/My File+1 ü.dll\"},"
            "{\"path\":\"outside\",\"link\":\"" + secret().string() + "\"}]");

  const auto other = get("/gis/update/list?platform=linux");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->body, "[{\"path\":\"a.txt\",\"size\":14,\"mtime\":1600000000}]");
}

TEST_F(ReleaseServerRoutes, ManifestOfAnEmptyReleaseIsAnEmptyArray) {
  fs::create_directories(releaseRoot() / "empty");
  const auto result = get("/gis/update/list?platform=empty");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body, "[]");
}

using Answer = testing_support::ExpectedAnswer;

TEST_F(ReleaseServerRoutes, AnswersEachRequestWithItsStatus) {
  const std::vector<Answer> answers = {
      // files of the release, percent-encoded names, a link inside the release
      {"/gis/update/file?platform=windows&path=Vardel.exe", 200, "program"},
      {"/gis/update/file?platform=windows&path=bin/My%20File%2B1%20%C3%BC.dll", 200, "library"},
      {"/gis/update/file?platform=windows&path=bin%2FMy%20File%2B1%20%C3%BC.dll", 200, "library"},
      {"/gis/update/file?platform=windows&path=current", 200, "library"},
      // leaving the release
      {"/gis/update/file?platform=windows&path=../secret.txt", 403, std::nullopt},
      {"/gis/update/file?platform=windows&path=..%2F..%2Fsecret.txt", 403, std::nullopt},
      {"/gis/update/file?platform=windows&path=bin/../../secret.txt", 403, std::nullopt},
      {"/gis/update/file?platform=windows&path=bin/up", 403, std::nullopt},
      {"/gis/update/file?platform=windows&path=outside", 403, std::nullopt},
      {"/gis/update/file?platform=windows&path=%2Fetc%2Fhostname", 403, std::nullopt},
      // not a file of the release
      {"/gis/update/file?platform=windows&path=bin", 404, std::nullopt},
      {"/gis/update/file?platform=windows&path=empty%20dir", 404, std::nullopt},
      {"/gis/update/file?platform=windows&path=bin%20link/up", 403, std::nullopt},
      {"/gis/update/file?platform=windows&path=missing.txt", 404, std::nullopt},
      {"/gis/update/file?platform=windows&path=", 400, std::nullopt},
      {"/gis/update/file?platform=windows", 400, std::nullopt},
      // platforms that are not one directory of the root
      {"/gis/update/file?platform=..&path=windows/Vardel.exe", 404, std::nullopt},
      {"/gis/update/file?platform=.&path=windows/Vardel.exe", 404, std::nullopt},
      {"/gis/update/file?platform=windows%2Fbin&path=up", 404, std::nullopt},
      {"/gis/update/file?platform=mac&path=Vardel.exe", 404, std::nullopt},
      {"/gis/update/file?platform=&path=windows/Vardel.exe", 404, std::nullopt},
      {"/gis/update/list?platform=..", 404, std::nullopt},
      {"/gis/update/list?platform=mac", 404, std::nullopt},
      {"/gis/update/list", 400, std::nullopt},
      {"/gis/update/other?platform=windows", 404, std::nullopt},
  };
  testing_support::expectAnswers(answers, [this](const std::string& target) { return get(target); },
                                 [](const Answer& answer, const httplib::Response& response) {
                                   if (answer.body) {
                                     EXPECT_EQ(response.get_header_value("Content-Type"), "application/octet-stream");
                                   }
                                 });
  EXPECT_EQ(readFile(secret()), "secret");
}

struct FaultCase {
  const char* name;
  std::string faults;
  std::vector<Answer> answers;
};

TEST_F(ReleaseServerRoutes, FaultsFileChangesTheAnswersAtTheNextRequest) {
  writeFile(faultsFile().parent_path() / "manifest.json", "[{\"path\":\"../evil\"}]");
  const std::string listBody = (faultsFile().parent_path() / "manifest.json").string();
  const std::vector<FaultCase> cases = {
      // Counted from the server's start: first in the list.
      {"an older file for the first request", "file-older 1 " + listBody + " Vardel.exe\n",
       {{"/gis/update/file?platform=windows&path=Vardel.exe", 200, "[{\"path\":\"../evil\"}]"},
        {"/gis/update/file?platform=windows&path=Vardel.exe", 200, "program"}}},
      {"no faults", "",
       {{"/gis/update/list?platform=windows", 200, std::nullopt},
        {"/gis/update/file?platform=windows&path=Vardel.exe", 200, "program"}}},
      {"manifest status", "list-status 404\n",
       {{"/gis/update/list?platform=windows", 404, std::nullopt},
        {"/gis/update/file?platform=windows&path=Vardel.exe", 200, "program"}}},
      {"manifest body", "list-body " + listBody + "\n",
       {{"/gis/update/list?platform=windows", 200, "[{\"path\":\"../evil\"}]"}}},
      {"manifest body that cannot be read", "list-body " + listBody + ".missing\n",
       {{"/gis/update/list?platform=windows", 500, std::nullopt}}},
      {"one file, by its name with spaces", "# a comment\n\nfile-status 503 bin/My File+1 ü.dll\n",
       {{"/gis/update/file?platform=windows&path=bin/My%20File%2B1%20%C3%BC.dll", 503, std::nullopt},
        {"/gis/update/file?platform=windows&path=Vardel.exe", 200, "program"}}},
      {"every file, missing ones too", "file-status 429 *\n",
       {{"/gis/update/file?platform=windows&path=Vardel.exe", 429, std::nullopt},
        {"/gis/update/file?platform=windows&path=missing.txt", 429, std::nullopt},
        {"/gis/update/list?platform=windows", 200, std::nullopt}}},
      {"a stall ends in the normal answer", "file-stall 1 Vardel.exe\n",
       {{"/gis/update/file?platform=windows&path=Vardel.exe", 200, "program"}}},

      {"lines not understood are ignored",
       "list-status many\nlist-status 99\nfile-status 503\nfile-stall -1 Vardel.exe\nbogus\n",
       {{"/gis/update/list?platform=windows", 200, std::nullopt},
        {"/gis/update/file?platform=windows&path=Vardel.exe", 200, "program"}}},
  };
  for (const FaultCase& faultCase : cases) {
    SCOPED_TRACE(faultCase.name);
    writeFile(faultsFile(), faultCase.faults);
    testing_support::expectAnswers(faultCase.answers, [this](const std::string& target) { return get(target); });
  }
}

struct RangeCase {
  const char* range;
  const char* ifRange;  // nullptr: none sent
  int status;
  const char* body;
  const char* contentRange;
};

TEST_F(ReleaseServerRoutes, AnswersRangesAsNginxDoes) {
  const std::string target = "/gis/update/file?platform=windows&path=Vardel.exe";
  const char* const etag = "\"6553f100-7\"";  // time and size in hexadecimal
  const char* const lastModified = "Tue, 14 Nov 2023 22:13:20 GMT";
  const std::vector<RangeCase> cases = {
      {"bytes=3-", nullptr, 206, "gram", "bytes 3-6/7"},
      {"bytes=0-2", nullptr, 206, "pro", "bytes 0-2/7"},
      {"bytes=-4", nullptr, 206, "gram", "bytes 3-6/7"},
      {"bytes=5-100", nullptr, 206, "am", "bytes 5-6/7"},
      {"bytes=7-", nullptr, 416, nullptr, "bytes */7"},
      {"bytes=3-", etag, 206, "gram", "bytes 3-6/7"},
      {"bytes=3-", lastModified, 206, "gram", "bytes 3-6/7"},
      {"bytes=3-", "\"6553f100-8\"", 200, "program", ""},
      {"bytes=3-", "Tue, 14 Nov 2023 22:13:21 GMT", 200, "program", ""},
      {"bytes=0-1,3-4", nullptr, 200, "program", ""},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(std::string(c.range) + (c.ifRange ? std::string(" if ") + c.ifRange : ""));
    httplib::Headers headers = {{"Range", c.range}};
    if (c.ifRange) headers.emplace("If-Range", c.ifRange);
    const auto result = get(target, headers);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status);
    if (c.body) {
      EXPECT_EQ(result->body, c.body);
    }
    EXPECT_EQ(result->get_header_value("Content-Range"), c.contentRange);
    EXPECT_EQ(result->get_header_value("ETag"), etag);
    EXPECT_EQ(result->get_header_value("Last-Modified"), lastModified);
  }
}

TEST(FaultPlan, ReportsTheLinesItIgnores) {
  testing_support::TempDir temp;
  writeFile(temp / "faults.txt",
            "list-status 404\nfile-stall 3 a b.dll\nlist-status many\nbogus words\n");
  std::string warnings;
  const auto plan = release_server::readFaultPlan(temp / "faults.txt", warnings);
  EXPECT_EQ(plan.listStatus, 404);
  EXPECT_EQ(plan.stallFor("a b.dll"), 3);
  EXPECT_EQ(plan.stallFor("other"), 0);
  EXPECT_EQ(warnings, (temp / "faults.txt").string() + ":3: ignored: list-status many\n" +
                          (temp / "faults.txt").string() + ":4: ignored: bogus words\n");

  std::string none;
  const auto missing = release_server::readFaultPlan(temp / "missing.txt", none);
  EXPECT_EQ(missing.listStatus, 0);
  EXPECT_TRUE(missing.listBody.empty());
  EXPECT_EQ(none, "");
}

}  // namespace
