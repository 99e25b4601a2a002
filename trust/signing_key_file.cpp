#include "trust/signing_key_file.h"

#include <sodium.h>

namespace {

constexpr char kLabel[] = "kestrun-signing-key: ";

}  // namespace

std::string formatSigningKeyFile(const ManifestSecretKey& key) {
  return kLabel + encodeBase64(key.data(), key.size()) + "\n";
}

bool parseSigningKeyFile(const std::string& text, ManifestSecretKey& key, std::string& reason) {
  std::string line = text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.rfind(kLabel, 0) != 0) {
    reason = "not a signing key file (it must start with \"kestrun-signing-key: \")";
    return false;
  }
  ManifestSecretKey decoded;
  if (!decodeBase64Exact(line.substr(sizeof kLabel - 1), decoded.data(), decoded.size())) {
    reason = "the key is not base64 of 64 bytes";
    return false;
  }
  if (sodium_init() < 0) {
    reason = "the crypto library cannot start";
    return false;
  }
  // The second half of libsodium's secret key is the public key derived from the first half
  // (the seed); a damaged file shows as a mismatch.
  ManifestSecretKey rebuilt;
  ManifestPublicKey rebuiltPublic;
  crypto_sign_seed_keypair(rebuiltPublic.data(), rebuilt.data(), decoded.data());
  if (rebuilt != decoded) {
    reason = "the key is damaged (its public half does not belong to its seed)";
    return false;
  }
  key = decoded;
  return true;
}

ManifestPublicKey publicKeyOf(const ManifestSecretKey& key) {
  ManifestPublicKey publicKey;
  crypto_sign_ed25519_sk_to_pk(publicKey.data(), key.data());
  return publicKey;
}

std::string publicKeyBase64(const ManifestSecretKey& key) {
  const ManifestPublicKey publicKey = publicKeyOf(key);
  return encodeBase64(publicKey.data(), publicKey.size());
}
