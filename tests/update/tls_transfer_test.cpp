// Transfers over TLS against a loopback server whose certificate no public authority signed:
// the library's own verification stays on, and a CA bundle is used only when it exists.
// This program talks TLS through cpp-httplib's OpenSSL build, so it stays apart from the
// plain loopback server of the other tests.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"
#include "update/update_checker.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;

const fs::path kFixtures = KESTRUN_UPDATE_TEST_FIXTURES;
const fs::path kCertificate = kFixtures / "loopback-test-cert.pem";
const fs::path kPrivateKey = kFixtures / "loopback-test-key.pem";

// The library's text when the peer's certificate does not verify.
constexpr const char* kPeerFailedText = "SSL peer certificate or SSH remote key was not OK";

class TlsTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.is_valid());
    server.Get("/file", [](const httplib::Request&, httplib::Response& res) { res.set_content("secret", "text/plain"); });
    port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    thread = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    fs::create_symlink(kCertificate, dir / "bundle-link.pem");
    fs::create_symlink(dir / "gone.pem", dir / "dangling.pem");
  }
  void TearDown() override {
    server.stop();
    if (thread.joinable()) thread.join();
  }

  std::string url() const { return "https://127.0.0.1:" + std::to_string(port) + "/file"; }

  httplib::SSLServer server{kCertificate.c_str(), kPrivateKey.c_str()};
  std::thread thread;
  int port = 0;
  TempDir dir;
  UpdateChecker checker{"", "windows", dir.path(), dir.path() / "update_staging"};
};

struct BundleCase {
  const char* name;
  fs::path bundle;
  bool ok;
  const char* errorText;
};

TEST_F(TlsTransferTest, CaBundleIsUsedOnlyWhenItExists) {
  const BundleCase cases[] = {
      {"no bundle: the default store does not know the server", "", false, kPeerFailedText},
      {"missing bundle is ignored", dir / "no-such-bundle.pem", false, kPeerFailedText},
      {"dangling link counts as missing", dir / "dangling.pem", false, kPeerFailedText},
      {"bundle with the server's certificate", kCertificate, true, "untouched"},
      {"link to the bundle is followed", dir / "bundle-link.pem", true, "untouched"},
  };
  for (const BundleCase& c : cases) {
    SCOPED_TRACE(c.name);
    checker.caBundlePath = c.bundle;
    std::string body;
    std::string errorText = "untouched";
    EXPECT_EQ(checker.httpGetToString(url(), body, errorText), c.ok);
    EXPECT_EQ(errorText, c.errorText);
    EXPECT_EQ(body, c.ok ? "secret" : "");

    errorText = "untouched";
    EXPECT_EQ(checker.httpGetToFile(url(), dir / "download.bin", errorText), c.ok);
    EXPECT_EQ(errorText, c.errorText);
  }
}

}  // namespace
