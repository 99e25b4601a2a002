#pragma once

#include <string>

#include "update/manifest_entry_list.h"

// The common manifest read in one pass of RapidJSON's SAX reader, the entries' texts left in
// the body where they need no decoding. It takes only what it is sure to read as
// ManifestReader does: the body is then a well-formed array whose entries are valid, and
// `entries` holds them, the body adopted as their texts. Any other body (malformed, another
// root, a key of an unexpected type, an invalid entry, compressed copies or patches, a NUL
// byte, a byte-order mark) is left to ManifestReader, which gives the exact outcome and text;
// the body is then left as it was.
bool readManifestFast(std::string& body, bool signedManifest, ManifestEntryList& entries);
