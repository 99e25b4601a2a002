#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace platform {

// A file opened for writing bytes, shared with other readers and writers (and, on Windows,
// with deletion). Every failure surfaces: a failed write or close is reported, so a full
// disk is never taken for success. The file is never opened through a symbolic link (or a
// Windows junction) at its own path: such a link makes open fail, so a link planted where
// the launcher keeps its files cannot carry their bytes elsewhere.
class FileWriter {
 public:
  // CreateNew fails when anything exists at the path, a link included, and gives the new
  // file to its owner alone from the moment it exists (where the system has modes; on
  // Windows the folder's permissions apply): for secrets.
  enum class Mode { Truncate, Append, CreateNew };

  FileWriter() = default;
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Creates the file when missing; Truncate empties an existing one, Append extends it.
  std::error_code open(const std::filesystem::path& path, Mode mode);
  bool isOpen() const;
  // Writes all bytes or reports why it could not.
  std::error_code write(const void* data, std::size_t size);
  // Waits until what was written is on the disk, so that it survives a power cut.
  std::error_code sync();
  std::error_code close();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace platform
