#pragma once

// The update server's three endpoints, for the launcher that asks them and the tools that
// answer or load them. Each takes "?platform=" and the platform's name; the file endpoint
// also "&path=" and the percent-encoded manifest path.
inline constexpr const char* kManifestEndpoint = "/gis/update/list";
inline constexpr const char* kSignatureEndpoint = "/gis/update/signature";
inline constexpr const char* kFileEndpoint = "/gis/update/file";

// Compressed copies and patches of release files ("objects"), immutable and named by the
// SHA-256 of their own bytes: base + "/gis/update/object/" + platform + "/" + that digest in
// lower-case hex + ".zst". Only a manifest that lists an object leads to its request.
inline constexpr const char* kObjectEndpoint = "/gis/update/object";

// Health reports (update/health_report.h), sent only where the manifest asks for them and
// answered with 204 by a static server, which writes them to its access log.
inline constexpr const char* kHealthEndpoint = "/gis/update/health";
