#pragma once

// Running the release tools as a user would: as child processes with their output in files,
// started by their own process id and stopped by it.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/wait.h"

namespace release_tools_test {

namespace fs = std::filesystem;

// The programs under test, as built.
struct ToolPaths {
  fs::path publish;
  fs::path releaseServer;
  fs::path load;
  fs::path nginxScript;  // deploy/nginx/run-local.sh
  fs::path varnishScript;  // deploy/varnish/run-local.sh
};
const ToolPaths& toolPaths();

// A child process whose standard output and error go to files.
class Child {
 public:
  Child(const std::vector<std::string>& command, const fs::path& stdoutFile,
        const fs::path& stderrFile);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return process_ != nullptr; }
  bool running();
  // Ends it at once (SIGKILL) and waits for it.
  void kill();
  // Its exit code, or -1 when it did not end within timeoutMs (it is then killed).
  int wait(int timeoutMs);

 private:
  platform::ProcessHandle process_;
};

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs `program` to its end; output files go into `scratch`.
ToolRun runTool(const fs::path& program, const std::vector<std::string>& arguments,
                const fs::path& scratch, int timeoutMs = 120000);

using testing_support::waitUntil;

// A port on 127.0.0.1 that was free a moment ago.
int freeLoopbackPort();

// Whether a server just started as `child` answers anything at all on 127.0.0.1:port within
// timeoutMs; one that ended first is not up. Killed when it is not.
bool answersOnLoopback(Child& child, int port, int timeoutMs);

}  // namespace release_tools_test
