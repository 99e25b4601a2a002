// The Linux runner: the built launcher as a child process of the test, headless.

#include "tests/launcher/launcher_harness.h"

namespace e2e {
namespace {

class LinuxRunner : public LauncherRunner {
 public:
  std::string whyNotReady() const override { return {}; }
  RunOptions options() const override { return {}; }
};

}  // namespace

const LauncherRunner& runner() {
  static const LinuxRunner linuxRunner;
  return linuxRunner;
}

}  // namespace e2e
