#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The chain of trust, in short. The launcher is built with one or more Ed25519 public keys.
// A release's manifest is signed, together with its platform, its serial and (optionally) an
// expiry, by the release manager's offline secret key; the launcher takes the manifest only
// when one of its keys verifies that signature, the serial is not below the highest one this
// installation has accepted (update_serial.txt), and the expiry has not passed. The signed
// manifest carries the sha256 of every file, and each downloaded file must match it. So a
// file is installed only when the key's owner vouched for exactly those bytes.

// The signature that travels beside a release's manifest: the release's serial number (a
// positive integer that only grows from release to release), the moment after which the
// signature no longer counts, and an Ed25519 signature over all of it.
struct ManifestSignature {
  std::uint64_t serial = 0;
  std::int64_t expires = 0;  // seconds since 1970-01-01 UTC; 0: the signature never expires
  std::array<unsigned char, 64> signature{};
};

using ManifestPublicKey = std::array<unsigned char, 32>;
// libsodium's layout of an Ed25519 secret key: the 32-byte seed followed by the public key.
using ManifestSecretKey = std::array<unsigned char, 64>;

// What is signed: a fixed domain text, the platform, the serial in decimal, with an expiry its
// text (see trust/utc_time.h), and the exact manifest bytes, joined by NUL bytes. A signature
// with an expiry has a domain text of its own, so that a signature made without one can never
// be read as one made with it, or the other way round. A signature therefore holds for one
// platform, one serial, one expiry and one manifest, and for nothing else this key may sign.
std::string signedManifestMessage(const std::string& platform, std::uint64_t serial, const std::string& manifest,
                                  std::int64_t expires = 0);

// The signature file, two lines, or three with an expiry:
//   serial: 12
//   expires: 2026-12-08T16:00:00Z
//   signature: <base64 of the 64 signature bytes>
// The serial is 1 to 9223372036854775807 in plain decimal. A "\r" before a line end is
// accepted, as is a missing final line end. False with a short reason when malformed.
bool parseManifestSignature(const std::string& text, ManifestSignature& signature, std::string& reason);
std::string formatManifestSignature(const ManifestSignature& signature);

// Standard base64 with padding, the form of keys and signatures in files and build settings.
std::string encodeBase64(const unsigned char* bytes, std::size_t size);
// True only when `text` is valid base64 of exactly `size` bytes.
bool decodeBase64Exact(const std::string& text, unsigned char* bytes, std::size_t size);

// The launcher's built-in keys: one or more base64 public keys separated by commas (a primary
// key and its offline backup, say). False when any of them is not a key.
bool parsePublicKeyList(const std::string& text, std::vector<ManifestPublicKey>& keys);

// True when `signature` was made over this platform and manifest by the key's owner.
bool verifyManifestSignature(const ManifestPublicKey& key, const std::string& platform, const std::string& manifest,
                             const ManifestSignature& signature);

// Signs the manifest of `platform` as release number `serial`, valid until `expires` (seconds
// since 1970 UTC; 0: for ever). False only when the crypto library cannot start.
bool signManifest(const ManifestSecretKey& key, const std::string& platform, std::uint64_t serial,
                  const std::string& manifest, ManifestSignature& signature, std::int64_t expires = 0);

// A fresh key pair from the system's random source. False only when the crypto library
// cannot start.
bool generateManifestKeyPair(ManifestPublicKey& publicKey, ManifestSecretKey& secretKey);

// A serial as both files write it: plain decimal without sign or leading zero, 1 to
// 9223372036854775807.
bool parseManifestSerial(const std::string& text, std::uint64_t& serial);
