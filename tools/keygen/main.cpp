// kestrun-keygen: makes the Ed25519 key pair that signs release manifests.
//
//   kestrun-keygen SECRET_KEY_FILE
//   kestrun-keygen --public SECRET_KEY_FILE
//
// Writes the secret key to SECRET_KEY_FILE (created new, readable by its owner only; an
// existing file is never overwritten) and prints the public key in the form the launcher's
// build setting takes; --public prints that setting again for an existing key. Keep the
// secret key file offline; only kestrun-publish --sign-key reads it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "update/manifest_signature.h"
#include "update/signing_key_file.h"

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "kestrun-keygen: %s\n", message.c_str());
  return 1;
}

void printBuildSetting(const std::string& publicKey) {
  std::printf("build the launcher with:\n  -DKESTRUN_MANIFEST_PUBLIC_KEY=%s\n", publicKey.c_str());
}

int printPublicKey(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in) return fail("cannot read " + file.string());
  ManifestSecretKey key;
  std::string reason;
  if (!parseSigningKeyFile(text, key, reason)) return fail(file.string() + ": " + reason);
  printBuildSetting(publicKeyBase64(key));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--public") return printPublicKey(argv[2]);
  if (argc != 2 || std::string(argv[1]).rfind("-", 0) == 0) {
    std::fprintf(stderr, "usage: kestrun-keygen SECRET_KEY_FILE\n       kestrun-keygen --public SECRET_KEY_FILE\n");
    return 2;
  }
  const fs::path file = argv[1];
  std::error_code error;
  if (fs::exists(fs::symlink_status(file, error))) return fail(file.string() + " already exists; it is not overwritten");

  ManifestPublicKey publicKey;
  ManifestSecretKey secretKey;
  if (!generateManifestKeyPair(publicKey, secretKey)) return fail("the crypto library cannot start");

  // Created empty and closed to the group and others before the key goes in.
  if (!std::ofstream(file, std::ios::binary)) return fail("cannot create " + file.string());
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, error);
  if (error) return fail("cannot restrict the permissions of " + file.string() + ": " + error.message());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << formatSigningKeyFile(secretKey);
  out.close();
  if (!out) return fail("cannot write " + file.string());

  std::printf("secret key written to %s (keep it offline)\n", file.string().c_str());
  printBuildSetting(encodeBase64(publicKey.data(), publicKey.size()));
  return 0;
}
