#pragma once

#include <filesystem>

#include <httplib.h>

namespace release_server {

struct ServerSettings {
  std::filesystem::path root;        // holds one directory per platform
  std::filesystem::path faultsFile;  // empty: never misbehave
};

// Installs the two update routes and a request logger (one line per request on standard
// output):
//   GET /gis/update/list?platform=P          the manifest of root/P
//   GET /gis/update/file?platform=P&path=X   the bytes of root/P/X
//   GET /gis/update/signature?platform=P     root/P.json.sig (published releases only)
//   GET /gis/update/object/P/NAME             root/P.objects/NAME (published releases only)
// When root/P.json exists (a release written by kestrun-publish), it is the manifest, byte
// for byte, because a signature covers exactly those bytes.
void installReleaseRoutes(httplib::Server& server, const ServerSettings& settings);

}  // namespace release_server
