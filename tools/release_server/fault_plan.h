#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include <httplib.h>

// Deliberate misbehaviour for tests and demonstrations, read from a small text file that
// the server reads again at every request (so a test can change it between launcher runs).
// One directive per line; "#" starts a comment line; a missing file means no faults.
//
//   list-status CODE            answer the manifest request with status CODE
//   list-body FILE              answer the manifest request with FILE's bytes (status 200)
//   list-endless                a manifest answer that never ends (no length, chunked)
//   list-padded BYTES           a manifest of BYTES bytes with its length declared
//   file-status CODE PATH       answer requests for PATH with status CODE
//   file-flap CODE COUNT PATH   answer the first COUNT requests for PATH with CODE
//   file-stall SECONDS PATH     wait SECONDS before answering requests for PATH
//   file-cut BYTES PATH         declare the whole length, send BYTES, drop the connection
//   file-drop BYTES COUNT PATH  the same for the first COUNT requests for PATH only
//   file-older COUNT FILE PATH  answer the first COUNT requests for PATH from FILE (its bytes,
//                               time and validators), as if the release had held it then
//   file-short BYTES PATH       send BYTES without a length and close: a short body that looks whole
//   file-throttle RATE PATH     send at RATE bytes per second
//   file-redirect-loop PATH     redirect requests for PATH to themselves
//   file-redirect BASE PATH     redirect requests for PATH to BASE + the request's target
//
// PATH is the manifest path after the numbers (it may contain spaces); "*" means every file.
// BYTES of a cut count the bytes of the answer, which for a range request is the range.
namespace release_server {

// How the bytes of an existing file are sent, or where the request is sent instead.
struct FileFault {
  enum class Kind { None, Cut, Short, Throttle, RedirectLoop, Redirect };
  Kind kind = Kind::None;
  std::int64_t number = 0;  // bytes for Cut and Short, bytes per second for Throttle
  std::string base;         // Redirect: the other server's base address
};

struct FaultPlan {
  int listStatus = 0;             // 0: answer normally
  std::filesystem::path listBody;  // empty: generate the manifest
  bool listEndless = false;
  std::int64_t listPaddedBytes = 0;  // 0: not padded
  std::map<std::string, int> fileStatus;
  std::map<std::string, std::pair<int, int>> fileFlaps;  // status, number of failing requests
  std::map<std::string, int> fileStallSeconds;
  std::map<std::string, FileFault> fileFaults;
  std::map<std::string, std::pair<FileFault, int>> fileDrops;  // the cut, number of requests cut
  std::map<std::string, std::pair<std::filesystem::path, int>> olderFiles;  // the file, number of requests

  // The status forced on PATH, or 0. `request` counts the requests for PATH from 1, for
  // statuses that only the first requests get.
  int statusFor(const std::string& path, int request = 1) const;
  // The stall for PATH in seconds, or 0.
  int stallFor(const std::string& path) const;
  // The fault of the `request`th request for PATH (counted from 1).
  FileFault faultFor(const std::string& path, int request = 1) const;
  // The file that the `request`th request for PATH is answered from instead; empty: the release's.
  std::filesystem::path olderFileFor(const std::string& path, int request) const;
};

// Reads the plan; unknown or malformed lines are reported in `warnings` and ignored.
FaultPlan readFaultPlan(const std::filesystem::path& file, std::string& warnings);

// The requests for each PATH over one server's life, for the directives that apply to the
// first requests only; each server has its own, so that servers in one process never mix them.
class RequestCounter {
 public:
  // Counts a request for PATH; returns its number, from 1.
  int count(const std::string& path);

 private:
  std::mutex mutex_;
  std::map<std::string, int> counts_;
};

// Answers the manifest request as the plan's list-endless or list-padded says; false when
// neither is set.
bool answerManifestFault(const FaultPlan& plan, httplib::Response& response);

// Answers a request for the existing `file` as `fault` says; false for Kind::None.
bool answerFileFault(const FileFault& fault, const std::filesystem::path& file,
                     const httplib::Request& request, httplib::Response& response);

}  // namespace release_server
