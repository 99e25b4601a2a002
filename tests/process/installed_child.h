#pragma once

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/environment.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

// A copy of the test child program in a directory of its own, named like the main program,
// with the behaviour it is told to show.
class InstalledChild {
 public:
  explicit InstalledChild(const std::string& behaviour) {
    std::filesystem::path own;
    platform::ownExecutablePath(own);
    const std::filesystem::path built = own.parent_path() / ("kestrun_test_child" + own.extension().string());
    program_ = dir_.path() / ("Vardel" + own.extension().string());
    std::filesystem::copy_file(built, program_);
    writeFile(dir_ / "child_behaviour.txt", behaviour);
  }

  const std::filesystem::path& directory() const { return dir_.path(); }
  const std::filesystem::path& program() const { return program_; }

  // The lines the child recorded, without their line feeds.
  std::vector<std::string> record() const {
    std::vector<std::string> lines;
    std::istringstream in(readFile(dir_ / "child_record.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // True once the child has finished its sleep; false after `timeout` without it.
  bool waitUntilDone(std::chrono::milliseconds timeout = std::chrono::seconds(15)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!std::filesystem::exists(dir_ / "child_done.txt")) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  bool isDone() const { return std::filesystem::exists(dir_ / "child_done.txt"); }

 private:
  TempDir dir_;
  std::filesystem::path program_;
};

}  // namespace testing_support
