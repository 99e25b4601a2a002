// The two small text formats of signing: the signature file beside a manifest and the
// signing key file. What is read, what is refused, and that writing and reading agree.
#include <gtest/gtest.h>

#include <string>

#include "tests/trust/case_name.h"
#include "trust/manifest_signature.h"
#include "trust/signing_key_file.h"

namespace {

const ManifestSignature kFilled = [] {
  ManifestSignature signature;
  signature.signature.fill(0x5a);
  return signature;
}();
const std::string kSignature64 = encodeBase64(kFilled.signature.data(), kFilled.signature.size());

struct FormatCase {
  const char* name;
  std::string text;
  bool accepted;
  std::uint64_t serial;
  const char* reason;
};

const FormatCase kCases[] = {
    {"written form", "serial: 12\nsignature: " + kSignature64 + "\n", true, 12, ""},
    {"CRLF line ends", "serial: 12\r\nsignature: " + kSignature64 + "\r\n", true, 12, ""},
    {"no final line end", "serial: 12\nsignature: " + kSignature64, true, 12, ""},
    {"largest serial", "serial: 9223372036854775807\nsignature: " + kSignature64 + "\n", true, 9223372036854775807u, ""},
    {"serial zero", "serial: 0\nsignature: " + kSignature64 + "\n", false, 0, "序号无效"},
    {"serial with leading zero", "serial: 012\nsignature: " + kSignature64 + "\n", false, 0, "序号无效"},
    {"serial too large", "serial: 9223372036854775808\nsignature: " + kSignature64 + "\n", false, 0, "序号无效"},
    {"negative serial", "serial: -3\nsignature: " + kSignature64 + "\n", false, 0, "序号无效"},
    {"signature cut short", "serial: 12\nsignature: " + kSignature64.substr(4) + "\n", false, 0,
     "签名不是 64 字节的 base64"},
    {"signature with a blank after it", "serial: 12\nsignature: " + kSignature64 + " \n", false, 0,
     "签名不是 64 字节的 base64"},
    {"lines swapped", "signature: " + kSignature64 + "\nserial: 12\n", false, 0, "应为 serial 与 signature 两行"},
    {"a third line", "serial: 12\nsignature: " + kSignature64 + "\n\n", false, 0, "应为 serial 与 signature 两行"},
    {"empty", "", false, 0, "应为 serial 与 signature 两行"},
    {"an HTML page", "<html>Not here</html>\n", false, 0, "应为 serial 与 signature 两行"},
    {"with an expiry", "serial: 12\nexpires: 2028-02-29T23:59:59Z\nsignature: " + kSignature64 + "\n", true, 12, ""},
    {"expiry on a day that does not exist", "serial: 12\nexpires: 2027-02-29T00:00:00Z\nsignature: " + kSignature64,
     false, 0, "过期时间无效"},
    {"expiry in local time", "serial: 12\nexpires: 2028-01-01T00:00:00\nsignature: " + kSignature64, false, 0,
     "过期时间无效"},
    {"expiry before 1970", "serial: 12\nexpires: 1969-12-31T23:59:59Z\nsignature: " + kSignature64, false, 0,
     "过期时间无效"},
};

class SignatureFileFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SignatureFileFormat, ReadsOnlyTheWrittenForm) {
  const FormatCase& c = GetParam();
  ManifestSignature signature;
  std::string reason;
  EXPECT_EQ(parseManifestSignature(c.text, signature, reason), c.accepted) << reason;
  EXPECT_EQ(reason, c.reason);
  if (c.accepted) {
    EXPECT_EQ(signature.serial, c.serial);
    EXPECT_EQ(signature.signature, kFilled.signature);
    // The expiry is written back exactly as it was read.
    if (signature.expires != 0) {
      EXPECT_EQ(formatManifestSignature(signature), c.text);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SignatureFileFormat, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FormatCase>& info) { return caseName(info.param.name); });

TEST(SigningKeyFile, RoundTripsAndRefusesDamage) {
  ManifestPublicKey publicKey;
  ManifestSecretKey secretKey;
  ASSERT_TRUE(generateManifestKeyPair(publicKey, secretKey));
  const std::string file = formatSigningKeyFile(secretKey);
  EXPECT_EQ(publicKeyBase64(secretKey), encodeBase64(publicKey.data(), publicKey.size()));

  ManifestSecretKey read;
  std::string reason;
  ASSERT_TRUE(parseSigningKeyFile(file, read, reason)) << reason;
  EXPECT_EQ(read, secretKey);

  ManifestSecretKey damaged = secretKey;
  damaged[40] ^= 1;  // in the public half
  EXPECT_FALSE(parseSigningKeyFile(formatSigningKeyFile(damaged), read, reason));
  EXPECT_FALSE(parseSigningKeyFile(encodeBase64(secretKey.data(), secretKey.size()) + "\n", read, reason));
  EXPECT_FALSE(parseSigningKeyFile("kestrun-signing-key: AAAA\n", read, reason));
}

}  // namespace
