// The baseline of the start figure: linked against the same shared libraries as the launcher,
// it does nothing but start Vardel.exe from its own folder with its own arguments, through the
// same platform call the launcher uses.
#include <cstdint>
#include <filesystem>

#include "platform/environment.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  std::filesystem::path self;
  if (!platform::ownExecutablePath(self)) return 1;
  const std::filesystem::path folder = self.parent_path();
  std::uint32_t errorCode = 0;
  const platform::ProcessHandle program =
      platform::startProcess(folder / "Vardel.exe", platform::launcherArguments(argc, argv), folder, errorCode);
  return program ? 0 : 1;
}
