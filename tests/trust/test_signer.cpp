// Signs a manifest the way a release host would, with any expiry, also one long past, which
// the publish tool never writes:
//   kestrun_test_signer KEY_FILE PLATFORM SERIAL EXPIRES < MANIFEST > SIGNATURE_FILE
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "trust/manifest_signature.h"
#include "trust/signing_key_file.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: kestrun_test_signer KEY_FILE PLATFORM SERIAL EXPIRES < MANIFEST\n");
    return 2;
  }
  std::ifstream keyFile(argv[1], std::ios::binary);
  const std::string keyText((std::istreambuf_iterator<char>(keyFile)), std::istreambuf_iterator<char>());
  const std::string manifest((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  ManifestSecretKey key;
  std::string reason;
  ManifestSignature signature;
  if (!parseSigningKeyFile(keyText, key, reason) ||
      !signManifest(key, argv[2], std::stoull(argv[3]), manifest, signature, std::stoll(argv[4]))) {
    std::fprintf(stderr, "kestrun_test_signer: cannot sign: %s\n", reason.c_str());
    return 1;
  }
  std::cout << formatManifestSignature(signature);
  return 0;
}
