// A launcher in miniature: starts the program named by its first argument in that program's
// directory, hands it the remaining arguments and exits at once, leaving it running.
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  std::vector<platform::NativeString> arguments = platform::launcherArguments(argc, argv);
  if (arguments.empty()) return 2;
  const std::filesystem::path program(arguments.front());
  arguments.erase(arguments.begin());
  std::uint32_t errorCode = 0;
  platform::ProcessHandle child = platform::startProcess(program, arguments, program.parent_path(), errorCode);
  return child ? 0 : 1;
}
