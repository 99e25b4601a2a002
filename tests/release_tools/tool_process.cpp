#include "tests/release_tools/tool_process.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"

namespace release_tools_test {

const ToolPaths& toolPaths() {
  static const ToolPaths paths{KESTRUN_TOOLS_PUBLISH, KESTRUN_TOOLS_RELEASE_SERVER,
                               KESTRUN_TOOLS_LOAD, KESTRUN_TOOLS_NGINX_SCRIPT,
                               KESTRUN_TOOLS_VARNISH_SCRIPT};
  return paths;
}

Child::Child(const std::vector<std::string>& command, const fs::path& stdoutFile,
             const fs::path& stderrFile) {
  // The shell only redirects; exec keeps the process id, so the handle is the command's own.
  std::vector<platform::NativeString> arguments = {
      "-c", "o=$1; e=$2; shift 2; exec \"$@\" >\"$o\" 2>\"$e\" </dev/null", "sh",
      stdoutFile.string(), stderrFile.string()};
  arguments.insert(arguments.end(), command.begin(), command.end());
  std::uint32_t errorCode = 0;
  process_ = platform::startProcess("/bin/sh", arguments, "/", errorCode);
}

Child::~Child() { kill(); }

bool Child::running() {
  if (!process_) return false;
  std::uint32_t errorCode = 0;
  return platform::waitForExit(*process_, 0, errorCode) == platform::WaitResult::TimedOut;
}

void Child::kill() {
  if (!running()) return;
  std::uint32_t errorCode = 0;
  platform::terminateProcess(*process_, 137, errorCode);
  platform::waitForExit(*process_, 10000, errorCode);
}

int Child::wait(int timeoutMs) {
  if (!process_) return -1;
  std::uint32_t errorCode = 0;
  if (platform::waitForExit(*process_, timeoutMs, errorCode) != platform::WaitResult::Exited) {
    kill();
    return -1;
  }
  std::uint32_t exitCode = 0;
  if (!platform::readExitCode(*process_, exitCode, errorCode)) return -1;
  return static_cast<int>(exitCode);
}

ToolRun runTool(const fs::path& program, const std::vector<std::string>& arguments,
                const fs::path& scratch, int timeoutMs) {
  static std::atomic<int> runNumber{0};
  const std::string stem = "tool-" + std::to_string(++runNumber);
  fs::create_directories(scratch);
  const fs::path out = scratch / (stem + ".out");
  const fs::path err = scratch / (stem + ".err");
  std::vector<std::string> command = {program.string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  ToolRun run;
  {
    Child child(command, out, err);
    run.exitCode = child.wait(timeoutMs);
  }
  run.out = testing_support::readFile(out);
  run.err = testing_support::readFile(err);
  return run;
}

int freeLoopbackPort() {
  testing_support::LoopbackServer probe;
  probe.start();
  const int port = probe.port();
  probe.stop();
  return port;
}

bool answersOnLoopback(Child& child, int port, int timeoutMs) {
  const bool up = waitUntil(
                      [&] {
                        if (!child.running()) return true;
                        httplib::Client client("127.0.0.1", port);
                        client.set_connection_timeout(1);
                        return static_cast<bool>(client.Get("/"));
                      },
                      timeoutMs) &&
                  child.running();
  if (!up) child.kill();
  return up;
}

}  // namespace release_tools_test
