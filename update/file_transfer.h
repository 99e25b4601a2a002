#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/file_writer.h"
#include "update/curl_easy_handle.h"
#include "update/transfer_options.h"

class Sha256Stream;
class UpdateChecker;

// Where a transfer into a file goes on from: the `offset` bytes already in it, asked for with
// Range and with If-Range `validator` (the server's ETag or Last-Modified of those bytes).
struct ResumePoint {
  std::uint64_t offset = 0;  // 0: the whole file
  std::string validator;
};

// One GET streamed into a file, in three steps so that the caller decides how it runs: on
// its own (perform) or among others at once on a multi handle (handle, then finish).
class FileTransfer {
 public:
  using Consumer = std::function<bool(const char*, std::size_t)>;

  FileTransfer() = default;
  FileTransfer(const FileTransfer&) = delete;
  FileTransfer& operator=(const FileTransfer&) = delete;

  // Creates or truncates `destination` and sets the transfer up, cancellable through the
  // checker's cancelCheck. Every byte written also goes into contentHash when one is given;
  // with maxBytes of 0 or more, a body that passes it ends the transfer before those bytes
  // are written. An error page (status 400 or more) is never written. False with errorText
  // when the transfer cannot start.
  //
  // With a resume point, the file keeps its first resume.offset bytes and the rest is asked
  // for: a 206 answer for exactly that rest is added to them (contentHash then covers the
  // whole file), any other success is the server's whole current file, written from byte 0.
  bool prepare(UpdateChecker& checker, const std::string& url, const std::filesystem::path& destination,
               Sha256Stream* contentHash, std::int64_t maxBytes, std::string& errorText,
               const ResumePoint& resume = {});
  // The same GET handing its body to `consumer` piece by piece instead of a file; a false from
  // the consumer ends the transfer (its status, when 400 or more, still names the failure).
  bool prepare(UpdateChecker& checker, const std::string& url, Consumer consumer, std::string& errorText);
  CURL* handle() const { return handle_.get(); }
  // Judges the library's result of the finished transfer and closes the file; false with
  // errorText (kCancelledText when the user cancelled).
  bool finish(CURLcode result, std::string& errorText);
  // After the handle's transfer ended with `result`: true when it ended at a redirect and the
  // handle is set up for the next hop, to be run again (transfer_options.h).
  bool followRedirect(CURLcode& result);
  // prepare's transfer run to its end on the calling thread, redirects included.
  bool perform(std::string& errorText);
  // After finish: whether the server sent the rest of a resumed file, and the validator of the
  // answer whose bytes were written (empty when none came or the server gave none).
  bool resumed() const { return sink_.resumed; }
  // Whether an answer's body (not an error page) started to replace the file's content.
  bool bodyAccepted() const { return sink_.accepted; }
  const std::string& validator() const { return sink_.validator; }
  // After a failed finish: whether the part the transfer went on from is of no further use
  // (the server refused its range, or answered for another one).
  bool partRefused() const { return sink_.partRefused; }

  // Where the body goes, how much may come, and what has come.
  struct Sink {
    platform::FileWriter file;
    Sha256Stream* hash = nullptr;
    std::int64_t limit = -1;
    std::uint64_t written = 0;
    std::uint64_t oversized = 0;  // the bytes received when the bound was passed, else 0
    Consumer consumer;            // set: the body goes here, not into the file
    bool refused = false;         // the consumer stopped the transfer, or an error page came
    // Set when the first piece of the body arrives.
    const RedirectHops* hops = nullptr;
    std::filesystem::path path;
    std::uint64_t resumeFrom = 0;
    bool answered = false;
    bool resumed = false;
    bool accepted = false;
    bool partRefused = false;
    bool reopenFailed = false;
    std::string validator;
  };

 private:
  bool setUp(UpdateChecker& checker, const std::string& url, std::string& errorText);

  UpdateChecker* checker_ = nullptr;
  RedirectHops hops_;
  CurlEasyHandle handle_;
  Sink sink_;
  std::string writeFailedText_;
  CurlHeaderList ifRange_;
};
