// A stand-in for the main program, in portable C++ only. It reads what to do from
// "child_behaviour.txt" in its working directory (lines "exit=N", "sleep=MS", "abort=1",
// "fds=1", "stat=1"), appends what it saw to "child_record.txt" there (its working
// directory, then each argument on a line of its own), and after its sleep creates
// "child_done.txt".
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::map<std::string, long> readBehaviour() {
  std::map<std::string, long> behaviour;
  std::ifstream in("child_behaviour.txt");
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    behaviour[line.substr(0, equals)] = std::strtol(line.c_str() + equals + 1, nullptr, 10);
  }
  return behaviour;
}

// Open descriptors with what they point to, where the system shows them as files.
void recordDescriptors(std::ofstream& record) {
  std::error_code error;
  for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(it->path(), linkError);
    record << "fd=" << it->path().filename().string() << " " << target.string() << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, long> behaviour = readBehaviour();
  {
    std::ofstream record("child_record.txt", std::ios::binary | std::ios::app);
    std::error_code error;
    record << "cwd=" << fs::current_path(error).string() << "\n";
    for (int i = 1; i < argc; ++i) record << "arg=" << argv[i] << "\n";
    if (behaviour["fds"]) recordDescriptors(record);
    if (behaviour["stat"]) {
      std::ifstream stat("/proc/self/stat");
      std::string line;
      std::getline(stat, line);
      record << "stat=" << line << "\n";
    }
  }
  if (behaviour["sleep"] > 0) std::this_thread::sleep_for(std::chrono::milliseconds(behaviour["sleep"]));
  std::ofstream("child_done.txt") << "done\n";
  if (behaviour["abort"]) std::abort();
  return static_cast<int>(behaviour["exit"]);
}
