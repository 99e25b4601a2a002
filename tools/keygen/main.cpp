// kestrun-keygen: makes the Ed25519 key pair that signs release manifests.
//
//   kestrun-keygen SECRET_KEY_FILE
//   kestrun-keygen --public SECRET_KEY_FILE [BACKUP_KEY_FILE ...]
//
// Writes the secret key to SECRET_KEY_FILE (created new, readable by its owner only; an
// existing file is never overwritten) and prints the public key in the form the launcher's
// build setting takes; --public prints that setting again for existing keys, all of them in
// one list: a launcher built with a primary key and an offline backup accepts releases
// signed by either, so a lost primary key strands no installation. Keep the secret key
// files offline; only kestrun-publish --sign-key reads them.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/manifest_signature.h"
#include "trust/signing_key_file.h"

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "kestrun-keygen: %s\n", message.c_str());
  return 1;
}

void printBuildSetting(const std::string& publicKey) {
  std::printf("build the launcher with:\n  -DKESTRUN_MANIFEST_PUBLIC_KEY=%s\n", publicKey.c_str());
}

// Writes `text` into a new file at `file` that is readable by its owner only from the moment
// it exists: no other user can open it before the key is in, and an existing file or a link
// at that path is never written through. False with the message to print.
bool writeNewSecretFile(const fs::path& file, const std::string& text, std::string& error) {
  platform::FileWriter writer;
  if (const std::error_code failure = writer.open(file, platform::FileWriter::Mode::CreateNew)) {
    error = failure == std::errc::file_exists
                ? file.string() + " already exists; it is not overwritten"
                : "cannot create " + file.string() + ": " + platform::errorCodeText(failure);
    return false;
  }
  std::error_code failure = writer.write(text.data(), text.size());
  // On disk before it is reported written: a key that is lost signs nothing.
  if (!failure) failure = writer.sync();
  if (const std::error_code closing = writer.close(); !failure) failure = closing;
  if (!failure) return true;
  error = "cannot write " + file.string() + ": " + platform::errorCodeText(failure);
  // A file without the whole key would only stand in the way of the next try.
  platform::removeItem(file);
  return false;
}

int printPublicKeys(const std::vector<fs::path>& files) {
  std::string setting;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in) return fail("cannot read " + file.string());
    ManifestSecretKey key;
    std::string reason;
    if (!parseSigningKeyFile(text, key, reason)) return fail(file.string() + ": " + reason);
    setting += (setting.empty() ? "" : ",") + publicKeyBase64(key);
  }
  printBuildSetting(setting);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--public") return printPublicKeys({argv + 2, argv + argc});
  if (argc != 2 || std::string(argv[1]).rfind("-", 0) == 0) {
    std::fprintf(stderr, "usage: kestrun-keygen SECRET_KEY_FILE\n"
                         "       kestrun-keygen --public SECRET_KEY_FILE [BACKUP_KEY_FILE ...]\n");
    return 2;
  }
  const fs::path file = argv[1];
  ManifestPublicKey publicKey;
  ManifestSecretKey secretKey;
  if (!generateManifestKeyPair(publicKey, secretKey)) return fail("the crypto library cannot start");
  std::string error;
  if (!writeNewSecretFile(file, formatSigningKeyFile(secretKey), error)) return fail(error);

  std::printf("secret key written to %s (keep it offline)\n", file.string().c_str());
  printBuildSetting(encodeBase64(publicKey.data(), publicKey.size()));
  return 0;
}
