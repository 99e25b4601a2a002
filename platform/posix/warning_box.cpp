#include <cstdio>

#include "platform/window.h"

namespace platform {

void showWarningBox(const std::string& caption, const std::string& text) {
  const std::string line = caption + ": " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace platform
