#pragma once

#include <string>

// The HTTP library's process-wide state. Set up when the object is made, torn down when it goes.
//
// Only update/ sees curl: its .cpp files, and the headers that only they include
// (curl_easy_handle.h, transfer_options.h, proxy_options.h, transfer_share.h,
// file_transfer_state.h). What the rest of the program uses names no curl type: this header,
// transfer_context.h, http_transfer.h, file_transfer.h, transfer_group.h and
// percent_encoding.h; staging/ fetches its files through the last three.
//
// The library must be torn down after every transfer handle and every share is gone: with
// Schannel the teardown unloads the security functions that closing a kept TLS connection
// still calls, and the program then crashes at its end. Make the object first, in the scope
// that also holds the update client, so that the client goes before it.
class HttpLibrary {
 public:
  HttpLibrary();
  ~HttpLibrary();
  HttpLibrary(const HttpLibrary&) = delete;
  HttpLibrary& operator=(const HttpLibrary&) = delete;

  // False when the set-up failed; errorText() then holds the library's text.
  bool ready() const { return ready_; }
  const std::string& errorText() const { return errorText_; }

 private:
  bool ready_ = false;
  std::string errorText_;
};
