#pragma once

// A private nginx serving a site through deploy/nginx/run-local.sh: one process on a loopback
// port, its configuration and logs under a prefix of the test's, stopped by its process id.

#include <filesystem>
#include <memory>
#include <string>

#include "tests/release_tools/tool_process.h"

namespace release_tools_test {

// Why nginx cannot run on this machine (missing program or module), or empty.
std::string whyNginxCannotRun();

class NginxServer {
 public:
  // `httpSettings`: extra directives for the http block (a rate limit, say).
  NginxServer(const fs::path& site, int port, const fs::path& prefix,
              const std::string& httpSettings = "");
  bool running() const { return up_; }
  // Why it did not come up: its standard error and error log.
  std::string failure() const;
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  fs::path accessLog() const { return prefix_ / "access.log"; }

 private:
  fs::path prefix_;
  int port_;
  std::unique_ptr<Child> child_;
  bool up_ = false;
};

}  // namespace release_tools_test
