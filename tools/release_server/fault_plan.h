#pragma once

#include <filesystem>
#include <map>
#include <string>

// Deliberate misbehaviour for tests and demonstrations, read from a small text file that
// the server reads again at every request (so a test can change it between launcher runs).
// One directive per line; "#" starts a comment line; a missing file means no faults.
//
//   list-status CODE            answer the manifest request with status CODE
//   list-body FILE              answer the manifest request with FILE's bytes (status 200)
//   file-status CODE PATH       answer requests for PATH with status CODE
//   file-stall SECONDS PATH     wait SECONDS before answering requests for PATH
//
// PATH is the manifest path after the two words (it may contain spaces); "*" means every file.
namespace release_server {

struct FaultPlan {
  int listStatus = 0;             // 0: answer normally
  std::filesystem::path listBody;  // empty: generate the manifest
  std::map<std::string, int> fileStatus;
  std::map<std::string, int> fileStallSeconds;

  // The status forced on PATH, or 0.
  int statusFor(const std::string& path) const;
  // The stall for PATH in seconds, or 0.
  int stallFor(const std::string& path) const;
};

// Reads the plan; unknown or malformed lines are reported in `warnings` and ignored.
FaultPlan readFaultPlan(const std::filesystem::path& file, std::string& warnings);

}  // namespace release_server
