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
void installReleaseRoutes(httplib::Server& server, const ServerSettings& settings);

}  // namespace release_server
