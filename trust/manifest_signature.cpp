#include "trust/manifest_signature.h"

#include <sodium.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "trust/utc_time.h"

namespace {

// Changing these texts invalidates every signature ever made: they name the format's version.
constexpr char kSignatureDomain[] = "Kestrun manifest signature v1";
constexpr char kExpiringSignatureDomain[] = "Kestrun manifest signature v2 (expiring)";
constexpr char kSerialKey[] = "serial: ";
constexpr char kExpiresKey[] = "expires: ";
constexpr char kSignatureKey[] = "signature: ";

// The lines of a small text file, without their "\n" or "\r\n" ends.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool parseManifestSerial(const std::string& text, std::uint64_t& serial) {
  // 19 digits cannot overflow the unsigned accumulator; the signed range is checked after.
  if (text.empty() || text.size() > 19 || text[0] == '0') return false;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
  serial = value;
  return true;
}

std::string signedManifestMessage(const std::string& platform, std::uint64_t serial, const std::string& manifest,
                                  std::int64_t expires) {
  std::string message = expires == 0 ? std::string(kSignatureDomain, sizeof kSignatureDomain)  // with its NUL
                                     : std::string(kExpiringSignatureDomain, sizeof kExpiringSignatureDomain);
  message += platform;
  message += '\0';
  message += std::to_string(serial);
  message += '\0';
  if (expires != 0) {
    message += formatUtcTime(expires);
    message += '\0';
  }
  message += manifest;
  return message;
}

bool parseManifestSignature(const std::string& text, ManifestSignature& signature, std::string& reason) {
  std::vector<std::string> lines = splitLines(text);
  ManifestSignature parsed;
  if (lines.size() == 3 && startsWith(lines[1], kExpiresKey)) {
    if (!parseUtcTime(lines[1].substr(sizeof kExpiresKey - 1), parsed.expires) || parsed.expires == 0) {
      reason = "过期时间无效";
      return false;
    }
    lines.erase(lines.begin() + 1);
  }
  if (lines.size() != 2 || !startsWith(lines[0], kSerialKey) || !startsWith(lines[1], kSignatureKey)) {
    reason = "应为 serial 与 signature 两行";
    return false;
  }
  if (!parseManifestSerial(lines[0].substr(sizeof kSerialKey - 1), parsed.serial)) {
    reason = "序号无效";
    return false;
  }
  if (!decodeBase64Exact(lines[1].substr(sizeof kSignatureKey - 1), parsed.signature.data(), parsed.signature.size())) {
    reason = "签名不是 64 字节的 base64";
    return false;
  }
  signature = parsed;
  return true;
}

std::string formatManifestSignature(const ManifestSignature& signature) {
  std::string text = kSerialKey + std::to_string(signature.serial) + "\n";
  if (signature.expires != 0) text += kExpiresKey + formatUtcTime(signature.expires) + "\n";
  return text + kSignatureKey + encodeBase64(signature.signature.data(), signature.signature.size()) + "\n";
}

std::string encodeBase64(const unsigned char* bytes, std::size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(&text[0], text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.pop_back();  // the encoder's terminating NUL
  return text;
}

bool decodeBase64Exact(const std::string& text, unsigned char* bytes, std::size_t size) {
  std::vector<unsigned char> decoded(size + 3);  // room to notice a value that is too long
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(decoded.data(), decoded.size(), text.c_str(), text.size(), nullptr, &length, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.c_str() + text.size() || length != size) {
    return false;
  }
  std::copy(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(size), bytes);
  return true;
}

bool parsePublicKeyList(const std::string& text, std::vector<ManifestPublicKey>& keys) {
  keys.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    ManifestPublicKey key;
    if (!decodeBase64Exact(text.substr(start, comma - start), key.data(), key.size())) return false;
    keys.push_back(key);
    if (comma == text.size()) return true;
    start = comma + 1;
  }
}

bool verifyManifestSignature(const ManifestPublicKey& key, const std::string& platform, const std::string& manifest,
                             const ManifestSignature& signature) {
  if (sodium_init() < 0) return false;
  const std::string message = signedManifestMessage(platform, signature.serial, manifest, signature.expires);
  return crypto_sign_verify_detached(signature.signature.data(), reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), key.data()) == 0;
}

bool signManifest(const ManifestSecretKey& key, const std::string& platform, std::uint64_t serial,
                  const std::string& manifest, ManifestSignature& signature, std::int64_t expires) {
  if (sodium_init() < 0) return false;
  const std::string message = signedManifestMessage(platform, serial, manifest, expires);
  signature.serial = serial;
  signature.expires = expires;
  return crypto_sign_detached(signature.signature.data(), nullptr,
                              reinterpret_cast<const unsigned char*>(message.data()), message.size(), key.data()) == 0;
}

bool generateManifestKeyPair(ManifestPublicKey& publicKey, ManifestSecretKey& secretKey) {
  return sodium_init() >= 0 && crypto_sign_keypair(publicKey.data(), secretKey.data()) == 0;
}
