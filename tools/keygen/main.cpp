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
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno == EEXIST ? file.string() + " already exists; it is not overwritten"
                            : "cannot create " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  int failure = 0;
  for (std::size_t written = 0; written < text.size() && failure == 0;) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      failure = n == 0 ? EIO : errno;
    }
  }
  // On disk before it is reported written: a key that is lost signs nothing.
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0) return true;
  error = "cannot write " + file.string() + ": " + std::strerror(failure);
  // A file without the whole key would only stand in the way of the next try.
  ::unlink(file.c_str());
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
