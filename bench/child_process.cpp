#include "bench/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

extern "C" char** environ;

namespace bench {
namespace {

bool hasName(const std::string& entry, const std::string& name) {
  return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=';
}

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::vector<std::string> environmentWith(const std::vector<std::string>& overrides,
                                         const std::vector<std::string>& removed) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    bool dropped = false;
    for (const std::string& name : removed) dropped = dropped || hasName(text, name);
    for (const std::string& override : overrides) dropped = dropped || hasName(text, nameOf(override));
    if (!dropped) result.push_back(text);
  }
  result.insert(result.end(), overrides.begin(), overrides.end());
  return result;
}

ChildRun runChild(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                  const std::filesystem::path& outputFile, double timeoutSeconds) {
  ChildRun run;
  std::vector<std::string> argumentCopy = arguments;
  std::vector<std::string> environmentCopy = environment;
  std::vector<char*> argv = pointersTo(argumentCopy);
  std::vector<char*> envp = pointersTo(environmentCopy);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawnError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) return run;
  run.started = true;

  // Polled rather than blocked on, so a hung child cannot hold the benchmark; the poll's
  // granularity is far below anything measured with it.
  const auto deadline = start + std::chrono::duration<double>(timeoutSeconds);
  int status = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0) return run;
    if (std::chrono::steady_clock::now() > deadline && !run.timedOut) {
      run.timedOut = true;
      kill(pid, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakResidentMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

std::string describeFailure(const ChildRun& run, const std::filesystem::path& outputFile) {
  std::string text = !run.started ? "could not be started"
                     : run.timedOut ? "timed out"
                                    : "exit code " + std::to_string(run.exitCode);
  std::ifstream output(outputFile);
  std::string line;
  if (std::getline(output, line) && !line.empty()) text += ": " + line.substr(0, 160);
  return text;
}

}  // namespace bench
