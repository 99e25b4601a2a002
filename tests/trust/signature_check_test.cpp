// Signed manifests in the update check, against a loopback server that serves a manifest and
// a signature of the test's making: what is accepted, what is refused with which text, and
// when the accepted serial is written.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "tests/trust/case_name.h"
#include "trust/accepted_serial.h"
#include "trust/manifest_signature.h"
#include "update/update_checker.h"

namespace {

using testing_support::LoopbackServer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr const char* kManifest =
    R"([{"path":"Vardel.exe","size":3,"mtime":1700000000,)"
    R"("sha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}])";
constexpr const char* kRefused = "无法获取更新清单：";

// How the served signature is made.
enum class Signed {
  Valid, Missing, OtherKey, ManifestChangedAfter, OtherPlatform, OneLineOnly, NoKeyBuiltIn, DamagedKeyBuiltIn,
  Expired, ExpiresTomorrow, ExpiryAddedAfter, ExpiryRemovedAfter, FirstOfTwoKeys, SecondOfTwoKeys, KeyNotInTheList
};

struct SignatureCase {
  const char* name;
  Signed how;
  std::uint64_t serial;
  const char* acceptedBefore;  // content of the serial file before the check; nullptr: none
  const char* error;           // after "无法获取更新清单："; nullptr: the check succeeds
  const char* acceptedAfter;   // content of the serial file afterwards; nullptr: none
};

const SignatureCase kCases[] = {
    {"valid signature, first one accepted", Signed::Valid, 5, nullptr, nullptr, "5\n"},
    {"higher serial replaces the accepted one", Signed::Valid, 7, "5\n", nullptr, "7\n"},
    {"equal serial is accepted", Signed::Valid, 5, "5\n", nullptr, "5\n"},
    {"lower serial is a rollback", Signed::Valid, 4, "5\n", "清单序号低于已接受的序号（收到 4，已接受 5）", "5\n"},
    {"missing signature", Signed::Missing, 5, nullptr, "清单签名缺失（HTTP 404）", nullptr},
    {"signed by another key", Signed::OtherKey, 5, nullptr, "清单签名验证失败", nullptr},
    {"manifest changed after signing", Signed::ManifestChangedAfter, 5, nullptr, "清单签名验证失败", nullptr},
    {"signature for another platform", Signed::OtherPlatform, 5, nullptr, "清单签名验证失败", nullptr},
    {"malformed signature file", Signed::OneLineOnly, 5, nullptr, "清单签名格式无效（应为 serial 与 signature 两行）",
     nullptr},
    {"damaged serial record fails closed", Signed::Valid, 5, "five\n", "已接受的清单序号记录无效：", "five\n"},
    {"no key built in: no signature asked for", Signed::NoKeyBuiltIn, 5, nullptr, nullptr, nullptr},
    {"damaged key built in", Signed::DamagedKeyBuiltIn, 5, nullptr, "内置的清单公钥无效", nullptr},
    {"expired", Signed::Expired, 5, nullptr,
     "清单已过期（expires 2020-09-13T12:26:40Z；请检查电脑的日期和时间是否正确）", nullptr},
    {"not yet expired", Signed::ExpiresTomorrow, 5, nullptr, nullptr, "5\n"},
    {"signature without expiry read as one with it", Signed::ExpiryAddedAfter, 5, nullptr, "清单签名验证失败", nullptr},
    {"signature with expiry read as one without it", Signed::ExpiryRemovedAfter, 5, nullptr, "清单签名验证失败",
     nullptr},
    {"first of two built-in keys", Signed::FirstOfTwoKeys, 5, nullptr, nullptr, "5\n"},
    {"second of two built-in keys", Signed::SecondOfTwoKeys, 5, nullptr, nullptr, "5\n"},
    {"key not in the built-in list", Signed::KeyNotInTheList, 5, nullptr, "清单签名验证失败", nullptr},
};

class SignatureCheckTest : public ::testing::TestWithParam<SignatureCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(generateManifestKeyPair(publicKey, secretKey));
    server.server().Get("/gis/update/list", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(served, "application/json");
    });
    server.server().Get("/gis/update/signature", [this](const httplib::Request&, httplib::Response& res) {
      if (signature.empty()) {
        res.status = 404;
        return;
      }
      res.set_content(signature, "text/plain");
    });
    server.start();
    checker.baseUrl = server.baseUrl();
  }

  // The signature file of `manifest` for the case, and the manifest the server then serves.
  void prepare(const SignatureCase& c) {
    ManifestPublicKey otherPublic;
    ManifestSecretKey otherSecret;
    ASSERT_TRUE(generateManifestKeyPair(otherPublic, otherSecret));
    const bool byOtherKey = c.how == Signed::OtherKey || c.how == Signed::KeyNotInTheList;
    const ManifestSecretKey& key = byOtherKey ? otherSecret : secretKey;
    const std::string platform = c.how == Signed::OtherPlatform ? "linux" : "windows";
    const std::int64_t tomorrow = std::time(nullptr) + 86400;
    const std::int64_t expires = c.how == Signed::Expired            ? 1600000000
                                 : c.how == Signed::ExpiresTomorrow || c.how == Signed::ExpiryRemovedAfter ? tomorrow
                                                                                                        : 0;
    ManifestSignature made;
    ASSERT_TRUE(signManifest(key, platform, c.serial, kManifest, made, expires));
    signature = formatManifestSignature(made);
    const std::size_t secondLine = signature.find('\n') + 1;
    if (c.how == Signed::ExpiryAddedAfter) signature.insert(secondLine, "expires: 2099-01-01T00:00:00Z\n");
    if (c.how == Signed::ExpiryRemovedAfter) signature.erase(secondLine, signature.find('\n', secondLine) + 1 - secondLine);
    served = kManifest;
    if (c.how == Signed::Missing) signature.clear();
    if (c.how == Signed::OneLineOnly) signature = signature.substr(0, signature.find('\n') + 1);
    // One blank more: the same JSON, other bytes.
    if (c.how == Signed::ManifestChangedAfter) served = std::string(kManifest) + " ";
    if (c.how != Signed::NoKeyBuiltIn) checker.manifestPublicKey = encodeBase64(publicKey.data(), publicKey.size());
    if (c.how == Signed::DamagedKeyBuiltIn) checker.manifestPublicKey.pop_back();
    // A primary key and its backup, as the build setting lists them.
    const std::string other = encodeBase64(otherPublic.data(), otherPublic.size());
    if (c.how == Signed::FirstOfTwoKeys) checker.manifestPublicKey += "," + other;
    if (c.how == Signed::SecondOfTwoKeys) checker.manifestPublicKey = other + "," + checker.manifestPublicKey;
    if (c.how == Signed::KeyNotInTheList) checker.manifestPublicKey += "," + checker.manifestPublicKey;
  }

  ManifestPublicKey publicKey;
  ManifestSecretKey secretKey;
  std::string served;
  std::string signature;
  LoopbackServer server;
  TempDir install;
  UpdateChecker checker{"", "windows", install.path(), install.path() / "update_staging"};
};

TEST_P(SignatureCheckTest, AcceptsOnlyAGenuineCurrentRelease) {
  const SignatureCase& c = GetParam();
  prepare(c);
  const auto serialFile = install / kAcceptedSerialFileName;
  if (c.acceptedBefore) writeFile(serialFile, c.acceptedBefore);

  std::string errorText;
  const bool checked = checker.checkForUpdates(errorText);

  if (c.error) {
    EXPECT_FALSE(checked);
    EXPECT_EQ(errorText.rfind(std::string(kRefused) + c.error, 0), 0u) << errorText;
    EXPECT_FALSE(std::filesystem::exists(install / "update.log")) << "nothing may be classified";
  } else {
    EXPECT_TRUE(checked) << errorText;
    EXPECT_EQ(checker.pending.size(), 1u);
  }
  if (c.acceptedAfter) {
    EXPECT_EQ(readFile(serialFile), c.acceptedAfter);
  } else {
    EXPECT_FALSE(std::filesystem::exists(serialFile));
  }

  std::vector<std::string> expectedRequests = {"/gis/update/list?platform=windows"};
  if (c.how != Signed::NoKeyBuiltIn && c.how != Signed::DamagedKeyBuiltIn) {
    expectedRequests.push_back("/gis/update/signature?platform=windows");
  }
  EXPECT_EQ(server.requestTargets(), expectedRequests);
}

INSTANTIATE_TEST_SUITE_P(Cases, SignatureCheckTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SignatureCase>& info) { return caseName(info.param.name); });

// A manifest that is signed but fails later in the check leaves the accepted serial alone:
// the serial is recorded only for a check that succeeded as a whole.
TEST(SignedManifestFailingLater, KeepsTheAcceptedSerial) {
  ManifestPublicKey publicKey;
  ManifestSecretKey secretKey;
  ASSERT_TRUE(generateManifestKeyPair(publicKey, secretKey));
  const std::string manifest = R"([{"path":"a.dll","size":1,"sha256":"not a digest"}])";
  ManifestSignature made;
  ASSERT_TRUE(signManifest(secretKey, "windows", 9, manifest, made));

  LoopbackServer server;
  server.server().Get("/gis/update/list", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(manifest, "application/json");
  });
  server.server().Get("/gis/update/signature", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(formatManifestSignature(made), "text/plain");
  });
  server.start();
  TempDir install;
  writeFile(install / kAcceptedSerialFileName, "3\n");
  UpdateChecker checker(server.baseUrl(), "windows", install.path(), install.path() / "update_staging");
  checker.manifestPublicKey = encodeBase64(publicKey.data(), publicKey.size());

  std::string errorText;
  EXPECT_FALSE(checker.checkForUpdates(errorText));
  EXPECT_EQ(errorText, "更新清单中的 sha256 无效：a.dll");
  EXPECT_EQ(readFile(install / kAcceptedSerialFileName), "3\n");
}

}  // namespace
