#pragma once

#include <cstddef>
#include <filesystem>
#include <system_error>

namespace platform {

// A whole file mapped read-only into memory, so that a large file can be read at random
// without being copied into the heap: the system pages it in as it is touched. The mapping
// holds the file open (on Windows, against replacement) until it is closed or destroyed.
class FileMapping {
 public:
  FileMapping() = default;
  ~FileMapping();
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  // Maps the regular file at `path` (links followed). An empty file maps to no bytes.
  std::error_code open(const std::filesystem::path& path);
  void close();
  const unsigned char* data() const { return static_cast<const unsigned char*>(view_); }
  std::size_t size() const { return size_; }

 private:
  void* view_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace platform
