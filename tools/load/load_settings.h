#pragma once

#include <string>
#include <vector>

// What one load run does and the bounds it keeps.
namespace load {

struct LoadSettings {
  std::string baseUrl;                // http://127.0.0.1:PORT[/prefix], nothing else
  std::string platform = "windows";
  int clients = 20;                   // launchers running at the same time
  int filesPerClient = 50;            // files each one fetches after the manifest
  long maxRequests = 100000;          // no request is started beyond this many
  int timeLimitSeconds = 60;          // transfers still running then are stopped
  int connectTimeoutSeconds = 4;      // as the launcher
};

constexpr int kMaxClients = 500;
constexpr int kMaxFilesPerClient = 1000;
constexpr long kMaxRequests = 1000000;
constexpr int kMaxTimeLimitSeconds = 600;

// Reads the command line (without the program name). False with a message for the user.
bool parseLoadSettings(const std::vector<std::string>& arguments, LoadSettings& settings,
                       std::string& error);

// Only loopback: "http://127.0.0.1:" + port, optionally followed by a path.
bool isLoopbackBaseUrl(const std::string& url);

}  // namespace load
