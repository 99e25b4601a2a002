#include "tests/release_tools/varnish_edge.h"

#include "tests/support/temp_dir.h"

namespace release_tools_test {

std::string whyVarnishCannotRun() {
  testing_support::TempDir scratch;
  const ToolRun check = runTool("/bin/sh", {toolPaths().varnishScript.string(), "--check"}, scratch.path(), 10000);
  if (check.exitCode == 0) return {};
  return check.out.empty() ? "varnish check failed: " + check.err : check.out;
}

VarnishEdge::VarnishEdge(const std::string& originUrl, const fs::path& vcl, const fs::path& prefix)
    : prefix_(prefix) {
  fs::create_directories(prefix_);
  // A port taken between the look and varnishd's bind ends varnishd: another is tried.
  for (int attempt = 0; attempt < 3 && !up_; ++attempt) {
    port_ = freeLoopbackPort();
    child_ = std::make_unique<Child>(
        std::vector<std::string>{"/bin/sh", toolPaths().varnishScript.string(), "--origin",
                                 originUrl.substr(originUrl.find("//") + 2), "--listen",
                                 "127.0.0.1:" + std::to_string(port_), "--workdir", prefix_.string(),
                                 "--vcl", vcl.string(), "--memory", "64m"},
        prefix_ / "stdout.txt", prefix_ / "stderr.txt");
    // Up once it answers anything at all (the origin's 404 for an unknown path).
    up_ = answersOnLoopback(*child_, port_, 30000);
  }
}

std::string VarnishEdge::failure() const {
  return testing_support::readFile(prefix_ / "stdout.txt") + testing_support::readFile(prefix_ / "stderr.txt");
}

}  // namespace release_tools_test
