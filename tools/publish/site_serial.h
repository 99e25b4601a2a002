#pragma once

#include <cstdint>
#include <string>

#include "tools/publish/site_layout.h"

// SITE/serial: the highest serial this site has ever signed with, in decimal and a line end.
// Launchers refuse any serial below one they have accepted, and a release carrying it may be
// pruned or lost with a restored backup; this file is what keeps the next serial above it.
namespace publish {

// The kept serial, or 0 when the site has none yet. False when the file cannot be read or
// is damaged: guessing would risk a serial that launchers refuse.
bool readIssuedSerial(const SiteLayout& layout, std::uint64_t& serial, std::string& error);

// Keeps `serial` as the highest issued, on the disk before this returns (a temporary file,
// flushed, renamed over the old one, the directory flushed), so that it outlives a power cut
// that comes after the release carrying it is served.
bool recordIssuedSerial(const SiteLayout& layout, std::uint64_t serial, std::string& error);

}  // namespace publish
