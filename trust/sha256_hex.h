#pragma once

#include <cstddef>
#include <memory>
#include <string>

// SHA-256 of a byte stream fed piece by piece, so a download is hashed while it is written
// and never read a second time. Linux hashes through OpenSSL, which uses the processor's SHA
// instructions where there are some (about six times libsodium's portable code); Windows
// through libsodium.
class Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream&) = delete;
  Sha256Stream& operator=(const Sha256Stream&) = delete;

  void update(const void* data, std::size_t size);
  // The digest as 64 lower-case hexadecimal characters. Call once, after the last update.
  std::string finishHex();

 private:
  static constexpr std::size_t kDigestBytes = 32;
  struct State;
  void finish(unsigned char (&digest)[kDigestBytes]);
  std::unique_ptr<State> state_;
};

// The SHA-256 of a whole byte string, as 64 lower-case hexadecimal characters.
std::string sha256Hex(const std::string& bytes);

// Whether `text` is a SHA-256 digest as a manifest writes it: exactly 64 hexadecimal
// characters, in either letter case.
bool isSha256Hex(const std::string& text);
