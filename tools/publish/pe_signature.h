#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Whether the Windows executables of a release carry an Authenticode signature, read from the
// structure of each PE file: a certificate table whose first entry is a PKCS#7 signature. It
// proves that a signing step ran, not that the signature is valid: `osslsigncode verify` (or
// Windows itself) checks that.
namespace publish {

enum class PeSignature { Signed, Unsigned, NotPe };

// The state of one file; a file that cannot be read gives NotPe.
PeSignature peSignatureOf(const std::filesystem::path& file);

// Every ".exe" and ".dll" (any case) under `source`, links not followed, that is not Signed:
// one line per file, its path relative to `source` with '/' separators and why. False with
// `error` when the tree cannot be walked.
bool unsignedExecutables(const std::filesystem::path& source, std::vector<std::string>& problems, std::string& error);

}  // namespace publish
