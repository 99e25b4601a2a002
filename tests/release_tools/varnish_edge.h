#pragma once

// A private Varnish cache in front of an origin, through deploy/varnish/run-local.sh: one
// varnishd in the foreground on a loopback port, its work folder under a prefix of the test's,
// stopped by its process id.

#include <filesystem>
#include <memory>
#include <string>

#include "tests/release_tools/tool_process.h"

namespace release_tools_test {

// Why varnishd cannot run on this machine, or empty.
std::string whyVarnishCannotRun();

class VarnishEdge {
 public:
  // `vcl`: the configuration's template (deploy/varnish/kestrun.vcl or a variant of it).
  VarnishEdge(const std::string& originUrl, const fs::path& vcl, const fs::path& prefix);
  bool running() const { return up_; }
  std::string failure() const;
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  fs::path prefix_;
  int port_ = 0;
  std::unique_ptr<Child> child_;
  bool up_ = false;
};

}  // namespace release_tools_test
