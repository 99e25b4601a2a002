// Transfers over TLS against a loopback server whose certificate no public authority signed:
// the library's own verification stays on, and a CA bundle is used only when it exists.
// This program's server speaks TLS (cpp-httplib's OpenSSL build, or OpenSSL's s_server under
// Wine), so it stays apart from the plain loopback server of the other tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_system.h"
#include "tests/support/tls_loopback_server.h"
#include "tests/update/file_fetch.h"
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
    std::string reason;
    if (!server.start(reason)) {
      if (testing_support::kWindowsBuild) GTEST_SKIP() << reason;
      FAIL() << reason;
    }
    linksMade = !platform::createFileSymlink(platform::fromUtf8(platform::pathToUtf8(kCertificate)),
                                             dir / "bundle-link.pem") &&
                !platform::createFileSymlink(platform::fromUtf8(platform::pathToUtf8(dir / "gone.pem")),
                                             dir / "dangling.pem");
  }

  std::string url() const { return "https://127.0.0.1:" + std::to_string(server.port()) + "/file"; }

  testing_support::TlsLoopbackServer server{kCertificate, kPrivateKey, "secret"};
  TempDir dir;
  bool linksMade = false;
  UpdateChecker checker{"", "windows", dir.path(), dir.path() / "update_staging"};
};

struct BundleCase {
  const char* name;
  fs::path bundle;
  bool ok;
  const char* errorText;
  bool isLinkCase;
};

TEST_F(TlsTransferTest, CaBundleIsUsedOnlyWhenItExists) {
  const BundleCase cases[] = {
      {"no bundle: the default store does not know the server", "", false, kPeerFailedText, false},
      {"missing bundle is ignored", dir / "no-such-bundle.pem", false, kPeerFailedText, false},
      {"dangling link counts as missing", dir / "dangling.pem", false, kPeerFailedText, true},
      {"bundle with the server's certificate", kCertificate, true, "untouched", false},
      {"link to the bundle is followed", dir / "bundle-link.pem", true, "untouched", true},
  };
  // Wine's Schannel accepts a certificate that no trusted root signed, so there only a bundle
  // can be checked, not the refusal without one.
  const bool refusesUnknownRoots = !testing_support::runningUnderWine();
  for (const BundleCase& c : cases) {
    if ((c.isLinkCase && !linksMade) || (!c.ok && !refusesUnknownRoots)) continue;
    SCOPED_TRACE(c.name);
    checker.caBundlePath = c.bundle;
    std::string body;
    std::string errorText = "untouched";
    EXPECT_EQ(checker.httpGetToString(url(), body, errorText), c.ok);
    EXPECT_EQ(errorText, c.errorText);
    EXPECT_EQ(body, c.ok ? "secret" : "");

    errorText = "untouched";
    EXPECT_EQ(fetchToFile(checker, url(), dir / "download.bin", errorText), c.ok);
    EXPECT_EQ(errorText, c.errorText);
  }
  std::string skipped;
  if (!linksMade) skipped += "link rows: " + testing_support::symlinkUnavailableReason(dir.path()) + ". ";
  if (!refusesUnknownRoots) skipped += "Rows that expect a refusal: Wine's Schannel trusts any root.";
  if (!skipped.empty()) GTEST_SKIP() << "skipped " << skipped;
}

// The server closes every connection, so each file needs a new one; the checker's transfers
// share their TLS sessions, so only the first connection makes a full handshake.
TEST_F(TlsTransferTest, ANewConnectionResumesTheTlsSession) {
  checker.caBundlePath = kCertificate;
  constexpr int kFiles = 3;
  for (int i = 0; i < kFiles; ++i) {
    std::string errorText;
    ASSERT_TRUE(fetchToFile(checker, url(), dir / "download.bin", errorText)) << errorText;
  }
  const int fullHandshakes = server.fullHandshakes();
  if (testing_support::runningUnderWine() && fullHandshakes == kFiles) {
    GTEST_SKIP() << "Wine's Schannel resumed no TLS session: " << kFiles << " full handshakes for " << kFiles
                 << " connections; Windows' own Schannel is not here to check";
  }
  EXPECT_EQ(fullHandshakes, 1);
}

}  // namespace
