#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "update/file_transfer.h"
#include "update/transfer_group.h"
#include "update/update_checker.h"

// A GET into a file, run as the staged download runs every file: a transfer in a group (also
// the benchmark's).
inline bool fetchToFile(UpdateChecker& checker, const std::string& url, const std::filesystem::path& destination,
                        std::string& errorText) {
  FileTransfer transfer;
  TransferGroup group;
  if (!transfer.prepare(checker.transferContext(), url, destination, nullptr, -1, errorText) ||
      !group.add(transfer, errorText)) {
    return false;
  }
  while (group.advance().empty()) group.wait(std::chrono::milliseconds(100));
  Failure failure;
  if (transfer.finish(failure)) return true;
  errorText = failure.text;
  return false;
}
