#pragma once

// The library's side of a FileTransfer, shared by file_transfer.cpp and transfer_group.cpp
// only: nothing outside update/ includes this header.
#include <curl/curl.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file_writer.h"
#include "update/curl_easy_handle.h"
#include "update/file_transfer.h"
#include "update/transfer_options.h"

// Where the body goes, how much may come, and what has come.
struct FileTransferSink {
  platform::FileWriter file;
  Sha256Stream* hash = nullptr;
  std::int64_t limit = -1;
  std::uint64_t written = 0;
  std::uint64_t oversized = 0;    // the bytes received when the bound was passed, else 0
  FileTransfer::Consumer consumer;  // set: the body goes here, not into the file
  bool refused = false;           // the consumer stopped the transfer, or an error page came
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

struct FileTransfer::State {
  TransferContext context;  // the transfer's own copy: the library calls back into it
  RedirectHops hops;
  CurlEasyHandle handle;
  FileTransferSink sink;
  std::string writeFailedText;
  CurlHeaderList ifRange;
  // How the library's transfer ended, set by the group; a transfer that no group ended has failed.
  CURLcode result = CURLE_FAILED_INIT;

  // After the handle's transfer ended with `result`: true when it ended at a redirect and the
  // handle is set up for the next hop, to be run again (transfer_options.h).
  bool followRedirect(CURLcode& ended) { return ::followRedirect(context, hops, ended); }
};
