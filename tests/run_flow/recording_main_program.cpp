// Stands in for Vardel.exe: appends its working directory and arguments to "calls.txt" in
// its working directory and writes its process id to "pid.txt". Then it stays alive until
// "stop.txt" appears, for at most the number of seconds in "stay_seconds.txt" (0 when
// missing), writes "ended.txt" and exits with the code in "exit_code.txt" (0 when missing).
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/environment.h"
#include "platform/text.h"

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
    calls << "cwd=" << platform::pathToUtf8(std::filesystem::current_path()) << '\n';
    for (int i = 1; i < argc; ++i) calls << "arg=" << argv[i] << '\n';
    calls << "end\n";
  }
  std::ofstream("pid.txt", std::ios::binary) << platform::currentProcessId() << '\n';

  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(readNumber("stay_seconds.txt"));
  while (std::chrono::steady_clock::now() < until && !std::filesystem::exists("stop.txt")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::ofstream("ended.txt", std::ios::binary) << "ended\n";
  return readNumber("exit_code.txt");
}
