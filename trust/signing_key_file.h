#pragma once

#include <string>

#include "trust/manifest_signature.h"

// The file that holds a release signing key: one line,
//   kestrun-signing-key: <base64 of the 64-byte Ed25519 secret key>
// The label keeps the file recognisable and stops it being mistaken for a public key.
std::string formatSigningKeyFile(const ManifestSecretKey& key);
// False with a short reason when the text is not such a file.
bool parseSigningKeyFile(const std::string& text, ManifestSecretKey& key, std::string& reason);

// The public half of a secret key, and the same in the base64 form that
// -DKESTRUN_MANIFEST_PUBLIC_KEY takes.
ManifestPublicKey publicKeyOf(const ManifestSecretKey& key);
std::string publicKeyBase64(const ManifestSecretKey& key);
