#pragma once

#include <string>

// The HTTP library's process-wide state, kept behind this header so that only the update
// module sees curl. Set up when the object is made, torn down when it goes.
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
