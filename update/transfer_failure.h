#pragma once

#include <string>
#include <utility>

#include "update/transfer_context.h"

// Why a transfer or a download failed. Code decides by the kind; only the log and the user see
// the text, which is the same as it always was.
enum class FailureKind {
  cancelled,    // the cancel check said stop; the text is kCancelledText
  setUp,        // the library could not start the transfer
  network,      // the library's own error: name lookup, connecting, a time-out, a broken connection
  status,       // the server answered with an error status ("HTTP 404")
  proxy,        // a proxy refused the credentials it was given (407)
  tooLarge,     // the body passed its bound
  partRefused,  // a resumed file's range answer did not fit the part
  local,        // writing or decoding at this end: a full disk, bytes a decoder refuses
  mismatch,     // the bytes are not what the manifest says (size, sha256)
  refused,      // the download refused what it was given (an unsafe path, a staging folder it cannot use)
};

struct Failure {
  FailureKind kind = FailureKind::refused;
  std::string text;

  Failure() = default;
  Failure(FailureKind kind, std::string text) : kind(kind), text(std::move(text)) {}
  bool cancelled() const { return kind == FailureKind::cancelled; }
};

inline Failure cancelledFailure() { return {FailureKind::cancelled, kCancelledText}; }
