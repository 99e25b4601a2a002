#pragma once

// The update server's three endpoints, for the launcher that asks them and the tools that
// answer or load them. Each takes "?platform=" and the platform's name; the file endpoint
// also "&path=" and the percent-encoded manifest path.
inline constexpr const char* kManifestEndpoint = "/gis/update/list";
inline constexpr const char* kSignatureEndpoint = "/gis/update/signature";
inline constexpr const char* kFileEndpoint = "/gis/update/file";
