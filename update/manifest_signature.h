#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The signature that travels beside a release's manifest: the release's serial number (a
// positive integer that only grows from release to release) and an Ed25519 signature.
struct ManifestSignature {
  std::uint64_t serial = 0;
  std::array<unsigned char, 64> signature{};
};

using ManifestPublicKey = std::array<unsigned char, 32>;
// libsodium's layout of an Ed25519 secret key: the 32-byte seed followed by the public key.
using ManifestSecretKey = std::array<unsigned char, 64>;

// What is signed: a fixed domain text, the platform, the serial in decimal and the exact
// manifest bytes, joined by NUL bytes. A signature therefore holds for one platform, one
// serial and one manifest, and for nothing else this key may ever sign.
std::string signedManifestMessage(const std::string& platform, std::uint64_t serial, const std::string& manifest);

// The signature file, two lines:
//   serial: 12
//   signature: <base64 of the 64 signature bytes>
// The serial is 1 to 9223372036854775807 in plain decimal. A "\r" before a line end is
// accepted, as is a missing final line end. False with a short reason when malformed.
bool parseManifestSignature(const std::string& text, ManifestSignature& signature, std::string& reason);
std::string formatManifestSignature(const ManifestSignature& signature);

// Standard base64 with padding, the form of keys and signatures in files and build settings.
std::string encodeBase64(const unsigned char* bytes, std::size_t size);
// True only when `text` is valid base64 of exactly `size` bytes.
bool decodeBase64Exact(const std::string& text, unsigned char* bytes, std::size_t size);

// True when `signature` was made over this platform and manifest by the key's owner.
bool verifyManifestSignature(const ManifestPublicKey& key, const std::string& platform, const std::string& manifest,
                             const ManifestSignature& signature);

// Signs the manifest of `platform` as release number `serial`. False only when the crypto
// library cannot start.
bool signManifest(const ManifestSecretKey& key, const std::string& platform, std::uint64_t serial,
                  const std::string& manifest, ManifestSignature& signature);

// A fresh key pair from the system's random source. False only when the crypto library
// cannot start.
bool generateManifestKeyPair(ManifestPublicKey& publicKey, ManifestSecretKey& secretKey);

// A serial as both files write it: plain decimal without sign or leading zero, 1 to
// 9223372036854775807.
bool parseManifestSerial(const std::string& text, std::uint64_t& serial);
