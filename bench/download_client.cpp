// The launcher's side of the download figures, as a program of its own so that its time and
// memory are those of one whole process, as they are for the curl command it is set against:
//   kestrun_bench_download file <url> <destination>
//       one file, through the transfer the launcher uses for every file
//   kestrun_bench_download pending <base url> <platform> <install dir> <count> <bytes>
//       the launcher's staged download of <count> files "small/fNNNNN.bin" of <bytes> each
//   kestrun_bench_download update <base url> <platform> <install dir>
//       the launcher's check and staged download of whatever differs from the installation
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "update/http_library.h"
#include "update/update_checker.h"

namespace {

std::string smallFileName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "small/f%05d.bin", index);
  return name;
}

bool fetchOne(const std::string& url, const std::filesystem::path& destination, std::string& errorText) {
  UpdateChecker checker("", "windows", destination.parent_path(), destination.parent_path() / "update_staging");
  // The progress window's cancel check is installed during a real download; its cost counts.
  checker.cancelCheck = [] { return false; };
  return checker.httpGetToFile(url, destination, errorText);
}

bool fetchPending(const std::string& baseUrl, const std::string& platform, const std::filesystem::path& installDir,
                  int count, std::int64_t bytes, std::string& errorText) {
  UpdateChecker checker(baseUrl, platform, installDir, installDir / "update_staging");
  checker.cancelCheck = [] { return false; };
  for (int i = 0; i < count; ++i) {
    ManifestEntry entry;
    entry.path = smallFileName(i);
    entry.size = bytes;
    entry.mtime = 1700000000;
    checker.pending.push_back(entry);
  }
  return checker.downloadPending([](int, int) {}, errorText);
}

bool update(const std::string& baseUrl, const std::string& platform, const std::filesystem::path& installDir,
            std::string& errorText) {
  UpdateChecker checker(baseUrl, platform, installDir, installDir / "update_staging");
  if (!checker.checkForUpdates(errorText)) return false;
  checker.cancelCheck = [] { return false; };
  return checker.downloadPending([](int, int) {}, errorText);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!((mode == "file" && argc == 4) || (mode == "pending" && argc == 7) || (mode == "update" && argc == 5))) {
    std::fprintf(stderr, "usage: %s file URL DESTINATION | pending BASE PLATFORM INSTALL_DIR COUNT BYTES"
                         " | update BASE PLATFORM INSTALL_DIR\n", argv[0]);
    return 2;
  }
  std::string errorText;
  if (!initHttpLibrary(errorText)) {
    std::fprintf(stderr, "HTTP library set-up failed: %s\n", errorText.c_str());
    return 1;
  }
  const bool ok = mode == "file"     ? fetchOne(argv[2], argv[3], errorText)
                  : mode == "update" ? update(argv[2], argv[3], argv[4], errorText)
                                     : fetchPending(argv[2], argv[3], argv[4], std::atoi(argv[5]),
                                                std::atoll(argv[6]), errorText);
  cleanupHttpLibrary();
  if (!ok) std::fprintf(stderr, "download failed: %s\n", errorText.c_str());
  // This program's own peak (its memory since it started): the kernel's peak of a child also
  // counts the parent's memory, which the child shares until it executes its program.
  if (mode == "update") {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmHWM:", 0) == 0) std::printf("peak %s\n", line.c_str());
    }
  }
  return ok ? 0 : 1;
}
