// Stands in for Vardel.exe: appends its working directory and arguments to "calls.txt" in
// its working directory, then stays alive for the number of seconds in "stay_seconds.txt"
// (0 when missing) and exits with the code in "exit_code.txt" (0 when missing).
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

int readNumber(const char* file) {
  std::ifstream in(file);
  int value = 0;
  in >> value;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  {
    std::ofstream calls("calls.txt", std::ios::app | std::ios::binary);
    calls << "cwd=" << std::filesystem::current_path().string() << '\n';
    for (int i = 1; i < argc; ++i) calls << "arg=" << argv[i] << '\n';
    calls << "end\n";
  }
  std::this_thread::sleep_for(std::chrono::seconds(readNumber("stay_seconds.txt")));
  return readNumber("exit_code.txt");
}
