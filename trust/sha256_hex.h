#pragma once

#include <cstddef>
#include <string>

#include <sodium.h>

// SHA-256 of a byte stream fed piece by piece, so a download is hashed while it is written
// and never read a second time.
class Sha256Stream {
 public:
  Sha256Stream();
  void update(const void* data, std::size_t size);
  // The digest as 64 lower-case hexadecimal characters. Call once, after the last update.
  std::string finishHex();

 private:
  crypto_hash_sha256_state state_;
};

// The SHA-256 of a whole byte string, as 64 lower-case hexadecimal characters.
std::string sha256Hex(const std::string& bytes);

// Whether `text` is a SHA-256 digest as a manifest writes it: exactly 64 hexadecimal
// characters, in either letter case.
bool isSha256Hex(const std::string& text);

