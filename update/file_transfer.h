#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "update/transfer_context.h"
#include "update/transfer_failure.h"

class Sha256Stream;

// Where a transfer into a file goes on from: the `offset` bytes already in it, asked for with
// Range and with If-Range `validator` (the server's ETag or Last-Modified of those bytes).
struct ResumePoint {
  std::uint64_t offset = 0;  // 0: the whole file
  std::string validator;
};

// One GET streamed into a file: prepared here, run in a TransferGroup (transfer_group.h) among
// others at once, then judged here by finish.
class FileTransfer {
 public:
  using Consumer = std::function<bool(const char*, std::size_t)>;

  FileTransfer();
  ~FileTransfer();
  FileTransfer(const FileTransfer&) = delete;
  FileTransfer& operator=(const FileTransfer&) = delete;

  // Creates or truncates `destination` and sets the transfer up, cancellable through the
  // context's cancelCheck. Every byte written also goes into contentHash when one is given;
  // with maxBytes of 0 or more, a body that passes it ends the transfer before those bytes
  // are written. An error page (status 400 or more) is never written. False with errorText
  // when the transfer cannot start.
  //
  // With a resume point, the file keeps its first resume.offset bytes and the rest is asked
  // for: a 206 answer for exactly that rest is added to them (contentHash then covers the
  // whole file), any other success is the server's whole current file, written from byte 0.
  bool prepare(const TransferContext& context, const std::string& url, const std::filesystem::path& destination,
               Sha256Stream* contentHash, std::int64_t maxBytes, std::string& errorText,
               const ResumePoint& resume = {});
  // The same GET handing its body to `consumer` piece by piece instead of a file; a false from
  // the consumer ends the transfer (its status, when 400 or more, still names the failure).
  bool prepare(const TransferContext& context, const std::string& url, Consumer consumer, std::string& errorText);
  // Once its group has reported it ended: judges how the transfer ended and closes the file;
  // false with the failure (cancelled when the user cancelled).
  bool finish(Failure& failure);
  // After finish: whether the server sent the rest of a resumed file, and the validator of the
  // answer whose bytes were written (empty when none came or the server gave none).
  bool resumed() const;
  // Whether an answer's body (not an error page) started to replace the file's content.
  bool bodyAccepted() const;
  const std::string& validator() const;
  // After a failed finish: whether the part the transfer went on from is of no further use
  // (the server refused its range, or answered for another one).
  bool partRefused() const;

 private:
  // The library's side of the transfer (file_transfer_state.h), seen only inside update/.
  struct State;
  friend class TransferGroup;
  bool setUp(const TransferContext& context, const std::string& url, std::string& errorText);

  std::unique_ptr<State> state_;
};
