// deploy/nginx/kestrun.conf on a private nginx: the two endpoints answered from SITE/current,
// their headers, and 404 for every request that names something outside the release.

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "tests/release_tools/nginx_server.h"
#include "tests/release_tools/site_check.h"
#include "tests/support/expected_answers.h"
#include "tests/support/temp_dir.h"

namespace release_tools_test {
namespace {

using testing_support::readFile;
using testing_support::writeFile;

std::string httpDate(std::time_t seconds) {
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

class NginxSite : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string reason = whyNginxCannotRun();
    if (!reason.empty()) GTEST_SKIP() << reason;
    writeFile(source() / "Vardel.exe", "program");
    writeFile(source() / "Sample Plugin+1/a b.txt", "plugin");
    writeFile(source() / "data/ü.txt", "umlaut");
    writeFile(source() / "data/log.txt", std::string(8192, 'x'));  // has a compressed copy
    fs::create_symlink("a b.txt", source() / "Sample Plugin+1/latest");
    fs::last_write_time(source() / "Sample Plugin+1/a b.txt",
                        std::chrono::file_clock::from_sys(std::chrono::sys_seconds{std::chrono::seconds(1700000300)}));
    // Things that must never be served: beside the site, in the site, in the release.
    writeFile(temp_ / "secret.txt", "secret");
    writeFile(site() / "secret.txt", "secret");
    ASSERT_EQ(publish(), 0);
    writeFile(site() / "current/secret.txt", "secret");
    writeFile(site() / "current/windows.objects/secret.txt", "secret");
    for (const auto& item : fs::directory_iterator(site() / "current/windows.objects")) {
      if (item.path().extension() == ".zst") object_ = item.path().filename().string();
    }
    nginx_ = std::make_unique<NginxServer>(site(), freeLoopbackPort(), temp_ / "nginx");
    ASSERT_TRUE(nginx_->running()) << nginx_->failure();
  }

  fs::path source() const { return temp_ / "source"; }
  fs::path site() const { return temp_ / "site"; }

  int publish() {
    return runTool(toolPaths().publish,
                   {"--source", source().string(), "--site", site().string(), "--platform", "windows"},
                   temp_ / "runs")
        .exitCode;
  }

  // The target is sent exactly as written.
  httplib::Result get(const std::string& target, const httplib::Headers& headers = {}) {
    httplib::Client client(nginx_->baseUrl());
    client.set_url_encode(false);
    return client.Get(target.c_str(), headers);
  }

  testing_support::TempDir temp_;
  std::unique_ptr<NginxServer> nginx_;
  std::string object_;  // the name of the compressed copy of data/log.txt
};

using Answer = testing_support::ExpectedAnswer;

TEST_F(NginxSite, AnswersTheEndpointsAndNothingElse) {
  const std::string file = "/gis/update/file?platform=windows&path=";
  const std::vector<Answer> answers = {
      {"/gis/update/list?platform=windows", 200, readFile(site() / "current/windows.json")},
      {file + "Vardel.exe", 200, "program"},
      {file + "Sample%20Plugin%2B1/a%20b.txt", 200, "plugin"},
      {file + "Sample%20Plugin%2B1%2Fa%20b.txt", 200, "plugin"},
      {file + "data/%C3%BC.txt", 200, "umlaut"},
      {file + "Sample%20Plugin%2B1/latest", 200, "plugin"},
      {"/gis/update/file?path=Vardel.exe&platform=windows", 200, "program"},
      // leaving the release
      {file + "..%2F..%2Fsecret.txt", 404, std::nullopt},
      {file + "../secret.txt", 404, std::nullopt},
      {file + "%2E%2E/secret.txt", 404, std::nullopt},
      {file + "data/../../secret.txt", 404, std::nullopt},
      {file + "..", 404, std::nullopt},
      {file + "%2Fetc%2Fpasswd", 404, std::nullopt},
      {file + "/etc/passwd", 404, std::nullopt},
      {file + "data%5C..%5C..%5Csecret.txt", 404, std::nullopt},
      {file + "data\\ü.txt", 404, std::nullopt},
      {file + "./Vardel.exe", 404, std::nullopt},
      {file + "data/./%C3%BC.txt", 404, std::nullopt},
      {file + "Vardel.exe%00.txt", 404, std::nullopt},
      // not a file of the release
      {file + "Sample%20Plugin%2B1", 404, std::nullopt},
      {file + "missing.txt", 404, std::nullopt},
      {file, 404, std::nullopt},
      {"/gis/update/file?platform=windows", 404, std::nullopt},
      // platforms outside [a-z0-9_-]+
      {"/gis/update/list?platform=..%2Fsecret", 404, std::nullopt},
      {"/gis/update/list?platform=..", 404, std::nullopt},
      {"/gis/update/list?platform=Windows", 404, std::nullopt},
      {"/gis/update/list?platform=", 404, std::nullopt},
      {"/gis/update/list", 404, std::nullopt},
      {"/gis/update/list?platform=linux", 404, std::nullopt},
      {"/gis/update/file?platform=.&path=windows/Vardel.exe", 404, std::nullopt},
      {"/gis/update/file?platform=windows%2F..&path=secret.txt", 404, std::nullopt},
      // objects: by their name only
      {"/gis/update/object/windows/" + object_, 200, readFile(site() / "current/windows.objects" / object_)},
      {"/gis/update/object/windows/secret.txt", 404, std::nullopt},
      {"/gis/update/object/windows/" + std::string(64, 'A') + ".zst", 404, std::nullopt},
      {"/gis/update/object/windows/" + std::string(64, 'a') + ".zst", 404, std::nullopt},
      {"/gis/update/object/windows/../windows.objects/" + object_, 404, std::nullopt},
      {"/gis/update/object/Windows/" + object_, 404, std::nullopt},
      {"/gis/update/object/linux/" + object_, 404, std::nullopt},
      // other addresses
      {"/", 404, std::nullopt},
      {"/current/windows.json", 404, std::nullopt},
      {"/secret.txt", 404, std::nullopt},
      {"/gis/update/list/../../secret.txt", 404, std::nullopt},
      {"/gis/update/other?platform=windows", 404, std::nullopt},
      // a health report: answered with nothing, kept in the access log only
      {"/gis/update/health?platform=windows&release=r1&result=up_to_date", 204, ""},
  };
  testing_support::expectAnswers(answers, [this](const std::string& target) { return get(target); },
                                 [](const Answer&, const httplib::Response& response) {
                                   EXPECT_EQ(response.body.find("secret"), std::string::npos);
                                 });
}

TEST_F(NginxSite, ManifestAndFilesAreRevalidatedByCaches) {
  const auto manifest = get("/gis/update/list?platform=windows");
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(manifest->get_header_value("Cache-Control"), "no-cache");

  const auto file = get("/gis/update/file?platform=windows&path=Sample%20Plugin%2B1/a%20b.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->get_header_value("Content-Type"), "application/octet-stream");
  EXPECT_EQ(file->get_header_value("Cache-Control"), "no-cache");
  EXPECT_EQ(file->get_header_value("Last-Modified"), httpDate(1700000300));
  const std::string etag = file->get_header_value("ETag");
  ASSERT_FALSE(etag.empty());

  // An object's name says what it holds: cached for a year, never asked again.
  const auto object = get("/gis/update/object/windows/" + object_);
  ASSERT_TRUE(object);
  EXPECT_EQ(object->get_header_value("Cache-Control"), "public, max-age=31536000, immutable");

  // A cache asking again gets "not modified" while the release stays, the new bytes after a
  // publish that changed the file.
  const std::string target = "/gis/update/file?platform=windows&path=Sample%20Plugin%2B1/a%20b.txt";
  const auto again = get(target, {{"If-None-Match", etag}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  writeFile(source() / "Sample Plugin+1/a b.txt", "plugin, second release");
  ASSERT_EQ(publish(), 0);
  const auto changed = get(target, {{"If-None-Match", etag}});
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->status, 200);
  EXPECT_EQ(changed->body, "plugin, second release");
  const auto list = get("/gis/update/list?platform=windows");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->body, readFile(site() / "current/windows.json"));
}

}  // namespace
}  // namespace release_tools_test
