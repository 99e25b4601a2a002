#include "tests/release_tools/nginx_server.h"

#include "tests/support/temp_dir.h"

namespace release_tools_test {

std::string whyNginxCannotRun() {
  testing_support::TempDir scratch;
  const ToolRun check = runTool("/bin/sh", {toolPaths().nginxScript.string(), "--check"},
                                scratch.path(), 10000);
  if (check.exitCode == 0) return {};
  return check.out.empty() ? "nginx check failed: " + check.err : check.out;
}

NginxServer::NginxServer(const fs::path& site, int port, const fs::path& prefix,
                         const std::string& httpSettings)
    : prefix_(prefix), port_(port) {
  fs::create_directories(prefix_ / "conf.d");
  if (!httpSettings.empty()) testing_support::writeFile(prefix_ / "conf.d/test.conf", httpSettings);
  child_ = std::make_unique<Child>(
      std::vector<std::string>{"/bin/sh", toolPaths().nginxScript.string(), "--site",
                               site.string(), "--listen", "127.0.0.1:" + std::to_string(port),
                               "--prefix", prefix_.string(), "--access-log", accessLog().string()},
      prefix_ / "stdout.txt", prefix_ / "stderr.txt");
  // Up once it answers anything at all; the catch-all location answers 404.
  up_ = answersOnLoopback(*child_, port_, 15000);
}

std::string NginxServer::failure() const {
  return testing_support::readFile(prefix_ / "stderr.txt") +
         testing_support::readFile(prefix_ / "error.log");
}

}  // namespace release_tools_test
