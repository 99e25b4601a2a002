#include "tests/run_flow/launcher_run.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "platform/process.h"
#include "platform/text.h"
#include "tests/run_flow/launcher_system.h"
#include "tests/support/temp_dir.h"

namespace run_flow {

namespace fs = std::filesystem;

namespace {

constexpr auto kRunLimit = std::chrono::minutes(1);
constexpr int kPollMs = 50;

// Changes this process's environment for the launcher it starts, and puts it back afterwards.
class ScopedEnvironment {
 public:
  void set(const std::string& name, const std::optional<std::string>& value) {
    saved_.emplace_back(name, environmentVariable(name));
    setEnvironmentVariable(name, value);
  }
  ~ScopedEnvironment() {
    for (auto item = saved_.rbegin(); item != saved_.rend(); ++item) setEnvironmentVariable(item->first, item->second);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::uintmax_t sizeOf(const fs::path& file) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(file, error);
  return error ? 0 : size;
}

}  // namespace

std::string warningBoxGap() {
  if (!testing_support::runningUnderWine() || environmentVariable("DISPLAY").value_or("") != "") return "";
  return "Wine without an X display (DISPLAY unset) shows no message box: MessageBoxW returns at once. "
         "scripts/windows-tests.sh runs the tests on a virtual display.";
}

LauncherRun runLauncher(const fs::path& launcher, const std::vector<std::string>& arguments,
                        const fs::path& workingDirectory, const fs::path& home, const std::vector<Setting>& settings) {
  LauncherRun run;
  const fs::path stderrFile = workingDirectory / "stderr.txt";
  testing_support::writeFile(stderrFile, "");

  ScopedEnvironment environment;
  for (const auto& [name, value] : launcherEnvironment(home)) environment.set(name, value);
  for (const Setting& setting : settings) environment.set(setting.name, setting.value);
  // The launcher test programs send their standard error to the file named here.
  environment.set("KESTRUN_TEST_STDERR", platform::pathToUtf8(stderrFile));

  std::vector<platform::NativeString> nativeArguments;
  for (const std::string& argument : arguments) nativeArguments.push_back(platform::fromUtf8(argument));
  std::uint32_t errorCode = 0;
  platform::ProcessHandle child = platform::startProcess(launcher, nativeArguments, workingDirectory, errorCode);
  if (!child) {
    run.failure = "the launcher did not start: error " + std::to_string(errorCode);
    return run;
  }

  // Each box goes into the transcript at the length standard error had when it appeared.
  std::vector<std::pair<std::uintmax_t, std::string>> boxes;
  const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
  platform::WaitResult waited = platform::WaitResult::TimedOut;
  while (waited == platform::WaitResult::TimedOut && std::chrono::steady_clock::now() < deadline) {
    answerWarningBoxes(platform::processId(*child), [&](const std::string& line) {
      boxes.emplace_back(sizeOf(stderrFile), line + "\n");
    });
    waited = platform::waitForExit(*child, kPollMs, errorCode);
  }
  if (waited != platform::WaitResult::Exited) {
    platform::terminateProcess(*child, 1, errorCode);
    run.failure = waited == platform::WaitResult::TimedOut ? "the launcher did not end within a minute"
                                                           : "waiting for the launcher failed: error " +
                                                                 std::to_string(errorCode);
    return run;
  }
  if (!platform::readExitCode(*child, run.exitCode, errorCode)) {
    run.failure = "the launcher's exit code could not be read: error " + std::to_string(errorCode);
  }

  const std::string errors = testing_support::readFile(stderrFile);
  std::size_t from = 0;
  for (const auto& [at, line] : boxes) {
    const std::size_t to = std::min<std::size_t>(at, errors.size());
    run.transcript += errors.substr(from, to - from) + line;
    from = to;
  }
  run.transcript += errors.substr(from);
  return run;
}

}  // namespace run_flow
