#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace platform {

// A file created (or emptied) at a fixed size and mapped read-write, so that a decoder can
// write a large result straight into it and read back what it wrote, with no copy in the
// heap. Like FileWriter, it never opens the file through a link at its own path. The disk
// space is taken when the file is opened, so a full disk fails there and not in the middle of
// the writes (a write into a mapped page that the disk cannot hold ends the process). Where
// the file system cannot promise the space (a compressed folder), the open fails. The file
// keeps its full size even when fewer bytes are written.
class OutputMapping {
 public:
  OutputMapping() = default;
  ~OutputMapping();
  OutputMapping(const OutputMapping&) = delete;
  OutputMapping& operator=(const OutputMapping&) = delete;

  // `size` may be 0: an empty file, nothing mapped. Fails with no_space_on_device, taking
  // nothing, when the file would leave less than `keepFree` bytes free on its disk.
  std::error_code open(const std::filesystem::path& path, std::uint64_t size, std::uint64_t keepFree);
  // Unmaps and closes; written bytes reach the file through the system's cache.
  void close();
  unsigned char* data() const { return static_cast<unsigned char*>(view_); }
  std::size_t size() const { return size_; }

 private:
  void* view_ = nullptr;
  std::size_t size_ = 0;
};

// Takes the pages of [address, address + size) of a file mapping out of the process's
// resident memory; the bytes stay in the file (and the system's cache) and come back on the
// next touch. Keeps the resident size of a long pass over a large mapped file bounded.
void dropResidentPages(const void* address, std::size_t size);

// Makes the pages of [address, address + size) of an OutputMapping ready for writing in one
// call, where the system can, instead of one page fault each as a decoder reaches them. Only a
// hint: the writes work the same without it.
void prepareForWriting(void* address, std::size_t size);

}  // namespace platform
