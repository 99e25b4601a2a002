#include "tests/wine_e2e/wine_session.h"

#include <iostream>

namespace wine_e2e {

namespace {

const fs::path kEnv = "/usr/bin/env";
const fs::path kShell = "/bin/sh";

}  // namespace

WineSession::WineSession() {
  if (!fs::exists("/usr/bin/wine") || !fs::exists("/usr/bin/wineserver")) {
    failure_ = "Wine is not installed (bash scripts/setup.sh installs it)";
    return;
  }
  if (!display_.running()) {
    failure_ = "no virtual X display (Xvfb) could be started";
    return;
  }
  fs::create_directories(dir_ / "home");
  // The prefix is set up first and its set-up server waited for; then one persistent server
  // serves the whole run. A server that a launcher run started would keep that run's output
  // files open and outlive it. Should this program be killed before it stops the server, the
  // server still ends a minute after the last Windows program.
  if (!step({"wineboot", "-i"}, "wineboot -i", 240000)) return;
  if (!step({"wineserver", "-w"}, "wineserver -w", 60000)) return;
  if (!step({"wineserver", "-p60"}, "wineserver -p60", 30000)) return;
  serverStarted_ = true;
  // Wine's services (services.exe, rpcss, plugplay, ...) start with the first program and keep
  // the descriptors it was given: let them start here, on files of their own.
  step({"wine", "cmd", "/c", "exit", "0"}, "the first Wine program", 60000);
}

WineSession::~WineSession() {
  if (serverStarted_) run({"wineserver", "-k"}, dir_ / "wineserver-k.out", 60000);
}

std::vector<std::string> WineSession::environment() const {
  return {"WINEPREFIX=" + (dir_ / "prefix").string(), "WINEDEBUG=-all",
          // No Mono or Gecko installer dialogs, no menu entries written into a home, and no
          // debugger: a crash ends the program with its exception code, as where nobody waits
          // at the fault dialog.
          "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d", "WINEARCH=win64"};
}

std::vector<std::string> WineSession::commandInPrefix(const std::vector<std::string>& command) const {
  std::vector<std::string> line = environment();
  line.insert(line.end(), {"HOME=" + (dir_ / "home").string(), "LANG=C.UTF-8",
                           "DISPLAY=" + display_.name()});
  line.insert(line.end(), command.begin(), command.end());
  return line;
}

int WineSession::run(const std::vector<std::string>& command, const fs::path& output,
                     int timeoutMs) const {
  return e2e::runToEnd(kEnv, commandInPrefix(command), output, output.string() + ".err", timeoutMs);
}

platform::ProcessHandle WineSession::start(const std::vector<std::string>& command,
                                           const fs::path& output) const {
  std::vector<platform::NativeString> arguments = {
      "-c", "o=$1; shift; exec \"$@\" >\"$o\" 2>\"$o.err\" </dev/null", "sh", output.string(),
      kEnv.string()};
  for (const std::string& part : commandInPrefix(command)) arguments.push_back(part);
  std::uint32_t errorCode = 0;
  return platform::startProcess(kShell, arguments, dir_.path(), errorCode);
}

bool WineSession::step(const std::vector<std::string>& command, const std::string& what,
                       int timeoutMs) {
  const fs::path output = dir_ / ("setup-" + std::to_string(++steps_) + ".out");
  const int exitCode = run(command, output, timeoutMs);
  if (exitCode == 0) return true;
  failure_ = what + " failed (exit code " + std::to_string(exitCode) + "): " +
             testing_support::readFile(output.string() + ".err");
  return false;
}

void wineNote(const std::string& text) {
  std::cout << "[ wine note] " << text << std::endl;
  ::testing::Test::RecordProperty("wine_note", text);
}

namespace {

// The Wine runner: Kestrun.exe under wine in the session's prefix, on its display (Windows
// always has one: the launcher's message boxes and window need it).
class WineRunner : public e2e::LauncherRunner {
 public:
  std::string whyNotReady() const override {
    if (!session().ready()) return "the Wine prefix could not be set up: " + session().failure();
    for (const fs::path& program : {e2e::buildSetup().mainProgram, fs::path(KESTRUN_WINE_LOCK_HOLDER)}) {
      if (!fs::exists(program)) {
        return program.string() + " is missing: build the targets kestrun_wine_vardel and " +
               "kestrun_wine_lock_holder in the Windows build";
      }
    }
    return {};
  }
  e2e::RunOptions options() const override {
    e2e::RunOptions options;
    options.display = session().display();
    options.interpreter = {"wine"};
    options.environment = session().environment();
    return options;
  }
  void note(const std::string& text) const override { wineNote(text); }
};

}  // namespace

}  // namespace wine_e2e

namespace e2e {

const LauncherRunner& runner() {
  static const wine_e2e::WineRunner wineRunner;
  return wineRunner;
}

}  // namespace e2e
