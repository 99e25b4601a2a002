#pragma once

#include <string>

// The manifest path as the file request names it: each '/'-separated segment percent-encoded
// on its own (update/percent_encoding.h), every slash kept as it is: "bin/My File+1.dll"
// gives "bin/My%20File%2B1.dll". A segment the library cannot encode is inserted unchanged.
std::string encodeManifestPath(const std::string& path);
