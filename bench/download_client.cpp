// The launcher's side of the download figures, as a program of its own so that its time and
// memory are those of one whole process, as they are for the curl command it is set against:
//   kestrun_bench_download file <url> <destination>
//       one file, through the transfer the launcher uses for every file
//   kestrun_bench_download pending <base url> <platform> <install dir> <count> <bytes> [<parallel> [<ca bundle>]]
//       the launcher's staged download of <count> files "small/fNNNNN.bin" of <bytes> each
//   kestrun_bench_download listed <base url> <platform> <install dir> <list> [<parallel> [<ca bundle>]]
//       the same of the files in <list>, one "<bytes> <path>" a line
//   kestrun_bench_download update <base url> <platform> <install dir>
//       the launcher's check and staged download of whatever differs from the installation
//   kestrun_bench_download check <base url> <platform> <install dir>
//       the launcher's check alone: everything up to the start of the download
// <parallel> is the number of files fetched at once (default 1); <ca bundle> the certificates
// an https server is checked against.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "staging/download_pending.h"
#include "tests/update/file_fetch.h"
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
  return fetchToFile(checker, url, destination, errorText);
}

std::vector<ManifestEntry> numberedEntries(int count, std::int64_t bytes) {
  std::vector<ManifestEntry> entries;
  for (int i = 0; i < count; ++i) {
    ManifestEntry entry;
    entry.path = smallFileName(i);
    entry.size = bytes;
    entries.push_back(entry);
  }
  return entries;
}

std::vector<ManifestEntry> listedEntries(const char* listFile) {
  std::vector<ManifestEntry> entries;
  std::ifstream list(listFile);
  ManifestEntry entry;
  while (list >> entry.size >> entry.path) entries.push_back(entry);
  return entries;
}

bool fetchPending(const std::string& baseUrl, const std::string& platform, const std::filesystem::path& installDir,
                  std::vector<ManifestEntry> entries, int parallel, const char* caBundle, std::string& errorText) {
  UpdateChecker checker(baseUrl, platform, installDir, installDir / "update_staging");
  checker.cancelCheck = [] { return false; };
  checker.parallelTransfers = parallel;
  if (caBundle) checker.caBundlePath = caBundle;
  for (ManifestEntry& entry : entries) entry.mtime = 1700000000;
  checker.pending = std::move(entries);
  return downloadPending(checker, [](int, int) {}, errorText);
}

bool update(const std::string& baseUrl, const std::string& platform, const std::filesystem::path& installDir,
            std::string& errorText) {
  UpdateChecker checker(baseUrl, platform, installDir, installDir / "update_staging");
  if (!checker.checkForUpdates(errorText)) return false;
  checker.cancelCheck = [] { return false; };
  return downloadPending(checker, [](int, int) {}, errorText);
}

bool check(const std::string& baseUrl, const std::string& platform, const std::filesystem::path& installDir,
           std::string& errorText) {
  UpdateChecker checker(baseUrl, platform, installDir, installDir / "update_staging");
  if (!checker.checkForUpdates(errorText)) return false;
  std::printf("pending %zu\n", checker.pending.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int optionsAt = mode == "pending" ? 7 : 6;  // where <parallel> would be
  const bool wholeRun = mode == "update" || mode == "check";
  if (!((mode == "file" && argc == 4) || (wholeRun && argc == 5) ||
        ((mode == "pending" || mode == "listed") && argc >= optionsAt && argc <= optionsAt + 2))) {
    std::fprintf(stderr,
                 "usage: %s file URL DESTINATION | pending BASE PLATFORM INSTALL_DIR COUNT BYTES [PARALLEL [CA_BUNDLE]]"
                 " | listed BASE PLATFORM INSTALL_DIR LIST [PARALLEL [CA_BUNDLE]] | update|check BASE PLATFORM INSTALL_DIR\n",
                 argv[0]);
    return 2;
  }
  const HttpLibrary httpLibrary;
  if (!httpLibrary.ready()) {
    std::fprintf(stderr, "HTTP library set-up failed: %s\n", httpLibrary.errorText().c_str());
    return 1;
  }
  std::string errorText;
  bool ok = false;
  if (mode == "file") {
    ok = fetchOne(argv[2], argv[3], errorText);
  } else if (mode == "update") {
    ok = update(argv[2], argv[3], argv[4], errorText);
  } else if (mode == "check") {
    ok = check(argv[2], argv[3], argv[4], errorText);
  } else {
    const int parallel = argc > optionsAt ? std::atoi(argv[optionsAt]) : 1;
    const char* caBundle = argc > optionsAt + 1 ? argv[optionsAt + 1] : nullptr;
    std::vector<ManifestEntry> entries =
        mode == "pending" ? numberedEntries(std::atoi(argv[5]), std::atoll(argv[6])) : listedEntries(argv[5]);
    ok = fetchPending(argv[2], argv[3], argv[4], std::move(entries), parallel, caBundle, errorText);
  }
  if (!ok) std::fprintf(stderr, "download failed: %s\n", errorText.c_str());
  // This program's own peak (its memory since it started): the kernel's peak of a child also
  // counts the parent's memory, which the child shares until it executes its program.
  if (wholeRun) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmHWM:", 0) == 0) std::printf("peak %s\n", line.c_str());
    }
  }
  return ok ? 0 : 1;
}
