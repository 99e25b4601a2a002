#include "tests/support/symlink_support.h"

#include "platform/filesystem.h"
#include "platform/text.h"

namespace testing_support {

std::string symlinkUnavailableReason(const std::filesystem::path& directory) {
  const std::filesystem::path probe = directory / "kestrun-link-probe";
  const std::error_code made = platform::createFileSymlink(platform::fromUtf8("probe-target"), probe);
  if (made) {
    return "this system makes no symbolic links here (error " + std::to_string(made.value()) + ": " +
           made.message() + "); Windows grants links only to some accounts, and Wine 8 makes none";
  }
  platform::removeItem(probe);
  return "";
}

}  // namespace testing_support
