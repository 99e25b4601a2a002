// A stand-in for the main program Vardel.exe, for demonstrations and end-to-end tests.
//
// At every start it appends one JSON line {"args": [...], "cwd": "..."} to
// vardel-starts.txt in its own directory and prints its arguments. Then it does what
// vardel-behaviour.txt (also in its own directory) says:
//   exit CODE      end at once with that exit code
//   crash 1        end at once by a signal (SIGABRT), as a crash would
//   stay SECONDS   stay alive that long, but end early once the behaviour file is removed
// Without that file it stays alive 8 seconds, ending early if its directory disappears.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

fs::path ownDirectory(const char* argv0) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) return self.parent_path();
  return fs::absolute(fs::path(argv0), ec).parent_path();
}

void recordStart(const fs::path& directory, const std::vector<std::string>& args) {
  std::error_code ec;
  nlohmann::json record;
  record["args"] = args;
  record["cwd"] = fs::current_path(ec).string();
  std::ofstream out(directory / "vardel-starts.txt", std::ios::binary | std::ios::app);
  out << record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// Sleeps up to `seconds`, returning early once `watched` no longer exists.
void stayWhileExists(const fs::path& watched, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::error_code ec;
  while (std::chrono::steady_clock::now() < deadline && fs::exists(watched, ec)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path directory = ownDirectory(argv[0]);
  const std::vector<std::string> args(argv + 1, argv + argc);
  recordStart(directory, args);

  std::cout << "Vardel (sample) started in " << directory.string() << " with " << args.size()
            << " argument(s)";
  for (const std::string& arg : args) std::cout << " [" << arg << "]";
  std::cout << std::endl;

  const fs::path behaviourFile = directory / "vardel-behaviour.txt";
  std::ifstream behaviour(behaviourFile);
  std::string word;
  int number = 0;
  if (behaviour >> word >> number) {
    if (word == "exit") return number;
    if (word == "crash") std::abort();
    if (word == "stay") {
      stayWhileExists(behaviourFile, number);
      return 0;
    }
  }
  stayWhileExists(directory, 8);
  return 0;
}
