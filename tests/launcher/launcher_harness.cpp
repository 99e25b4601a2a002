#include "tests/launcher/launcher_harness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "tests/support/loopback_server.h"
#include "tools/release_manifest/release_manifest.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

const fs::path kShell = "/bin/sh";
const fs::path kEnv = "/usr/bin/env";

// Runs `command...` through the shell so that its output lands in files; exec keeps the
// process id, so the returned handle is the command's own.
platform::ProcessHandle startRedirected(const std::vector<std::string>& command,
                                        const fs::path& stdoutFile, const fs::path& stderrFile,
                                        const fs::path& workingDirectory) {
  std::vector<platform::NativeString> arguments = {
      "-c", "o=$1; e=$2; shift 2; exec \"$@\" >\"$o\" 2>\"$e\" </dev/null", "sh",
      stdoutFile.string(), stderrFile.string()};
  arguments.insert(arguments.end(), command.begin(), command.end());
  std::uint32_t errorCode = 0;
  platform::ProcessHandle process =
      platform::startProcess(kShell, arguments, workingDirectory, errorCode);
  if (!process) ADD_FAILURE() << "cannot start " << command.front() << ": error " << errorCode;
  return process;
}

bool hasEnded(platform::ChildProcess& process) {
  std::uint32_t errorCode = 0;
  return platform::waitForExit(process, 0, errorCode) != platform::WaitResult::TimedOut;
}

void stopByPid(platform::ProcessHandle& process) {
  if (!process) return;
  std::uint32_t errorCode = 0;
  if (!hasEnded(*process)) {
    platform::terminateProcess(*process, 0, errorCode);
    platform::waitForExit(*process, 10000, errorCode);
  }
  process.reset();
}

std::string regexEscaped(const std::string& text) {
  static const std::string special = R"(.^$|()[]{}*+?\)";
  std::string result;
  for (char c : text) {
    if (special.find(c) != std::string::npos) result += '\\';
    result += c;
  }
  return result;
}

std::string patternOf(const std::string& text) {
  std::string pattern;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t digits = text.find("{N}", at);
    const std::size_t any = text.find("{*}", at);
    const std::size_t next = std::min(digits, any);
    pattern += regexEscaped(text.substr(at, next - at));
    if (next == std::string::npos) break;
    pattern += next == digits ? "[0-9]+" : "[^\\n]*";
    at = next + 3;
  }
  return pattern;
}

std::string describe(const LogLine& line) { return "[" + line.level + "] " + line.message; }
std::string describe(const Expected& line) { return "[" + line.level + "] " + line.text; }

std::vector<fs::path> logFiles(const fs::path& installDir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(installDir / "logs", ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("kestrun-", 0) == 0 && it->path().extension() == ".log") {
      files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The lines of one process in the daily logs. A line without the prefix continues the
// message before it (a message with a line break) and marks the log as not well formed.
void readRunLog(const fs::path& installDir, std::uint32_t pid, LauncherOutcome& outcome) {
  static const std::regex prefix(
      R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[(INFO|WARN|ERROR)\] \[pid=(\d+)\] (.*)$)");
  for (const fs::path& file : logFiles(installDir)) {
    bool ours = false;
    for (const std::string& text : readLines(file)) {
      std::smatch match;
      if (std::regex_match(text, match, prefix)) {
        ours = match[2].str() == std::to_string(pid);
        if (ours) outcome.log.push_back({match[1].str(), match[3].str()});
      } else if (ours && !outcome.log.empty()) {
        outcome.log.back().message += "\n" + text;
        outcome.logWellFormed = false;
      }
    }
  }
}

// The process id of the latest start banner in the daily logs.
std::uint32_t latestBannerProcessId(const fs::path& installDir) {
  static const std::regex banner(
      R"(^\[[^\]]*\] \[INFO\] \[pid=(\d+)\] ========== Kestrun 启动 ==========$)");
  std::uint32_t pid = 0;
  for (const fs::path& file : logFiles(installDir)) {
    for (const std::string& text : readLines(file)) {
      std::smatch match;
      if (std::regex_match(text, match, banner)) pid = std::stoul(match[1].str());
    }
  }
  return pid;
}

}  // namespace

const BuildSetup& buildSetup() {
  static const BuildSetup setup = [] {
    BuildSetup result;
    result.launcher = KESTRUN_E2E_LAUNCHER;
    result.releaseServer = KESTRUN_E2E_RELEASE_SERVER;
    result.mainProgram = KESTRUN_E2E_MAIN_PROGRAM;
    result.baseUrl = KESTRUN_E2E_BASE_URL;
#ifdef KESTRUN_E2E_WINDOWS_LAUNCHER
    result.windowsLauncher = true;
#endif
    std::smatch match;
    static const std::regex loopback(R"(^http://127\.0\.0\.1:(\d{1,5})/*$)");
    if (std::regex_match(result.baseUrl, match, loopback)) {
      const int port = std::stoi(match[1].str());
      if (port > 0 && port <= 65535) result.port = port;
    }
    return result;
  }();
  return setup;
}

std::string launcherPathText(const fs::path& path) {
  std::string text = fs::weakly_canonical(path).string();
  if (!buildSetup().windowsLauncher) return text;
  std::replace(text.begin(), text.end(), '/', '\\');
  return "Z:" + text;
}

std::string whyNotRunnable() {
  if (buildSetup().port != 0) return {};
  return "the launcher was built with KESTRUN_BASE_URL=\"" + buildSetup().baseUrl +
         "\"; the end-to-end tests need a build with "
         "-DKESTRUN_BASE_URL=http://127.0.0.1:<port> (for example 47611)";
}

bool runsHere(Platforms platforms) {
  if (platforms == Platforms::Both) return true;
  return (platforms == Platforms::WindowsOnly) == buildSetup().windowsLauncher;
}

// ---- Release ----

Release::Release(fs::path root) : root_(std::move(root)) { fs::create_directories(platformDir()); }

void Release::addFile(const std::string& path, const std::string& content, std::int64_t mtime) {
  const fs::path file = platformDir() / path;
  testing_support::writeFile(file, content);
  setFileTime(file, mtime);
}

void Release::addProgram(const std::string& path, const fs::path& source, std::int64_t mtime) {
  const fs::path file = platformDir() / path;
  fs::create_directories(file.parent_path());
  fs::copy_file(source, file, fs::copy_options::overwrite_existing);
  setFileTime(file, mtime);
}

void Release::addLink(const std::string& path, const std::string& target) {
  const fs::path link = platformDir() / path;
  fs::create_directories(link.parent_path());
  fs::create_symlink(target, link);
}

void Release::fixManifestWith(const std::string& elements) {
  std::string json;
  std::string error;
  ASSERT_TRUE(release_manifest::buildManifest(platformDir(), json, error)) << error;
  json.pop_back();  // the closing ']'
  testing_support::writeFile(root_ / "windows.json", json + (json.size() > 1 ? "," : "") + elements + "]");
}

void writeFaults(const fs::path& faultsFile, const std::string& directives) {
  testing_support::writeFile(faultsFile, directives);
}

// ---- ReleaseServer ----

ReleaseServer::ReleaseServer(const fs::path& root, const fs::path& faultsFile,
                             const fs::path& outputFile)
    : output_(outputFile) {
  std::vector<std::string> command = {buildSetup().releaseServer.string(), "--root",
                                      root.string(), "--port",
                                      std::to_string(buildSetup().port)};
  if (!faultsFile.empty()) {
    command.push_back("--faults");
    command.push_back(faultsFile.string());
  }
  process_ = startRedirected(command, output_, output_.string() + ".err", root);
  if (!process_) return;
  const bool up = testing_support::waitUntil(
      [&] {
        return testing_support::readFile(output_).find("serving") != std::string::npos ||
               hasEnded(*process_);
      },
      10000);
  if (!up || hasEnded(*process_)) {
    ADD_FAILURE() << "the release server did not come up on port " << buildSetup().port << ": "
                  << testing_support::readFile(output_.string() + ".err");
    stopByPid(process_);
  }
}

ReleaseServer::~ReleaseServer() { stopByPid(process_); }

std::vector<std::string> ReleaseServer::requests() const {
  // A line is printed before its answer is sent, but threads print in their own order: the
  // " #N" suffix restores the order of arrival, and a gap in the numbers is a line still to
  // come (a stalled request that its client gave up on, say), worth a short wait.
  std::vector<std::pair<unsigned long, std::string>> numbered;
  const auto readNumbered = [&] {
    numbered.clear();
    for (const std::string& line : readLines(output_)) {
      const std::size_t mark = line.rfind(" #");
      if (line.find(" -> ") == std::string::npos || mark == std::string::npos) continue;
      numbered.emplace_back(std::stoul(line.substr(mark + 2)), line.substr(0, mark));
    }
    std::sort(numbered.begin(), numbered.end());
    return numbered.empty() || numbered.back().first == numbered.size();
  };
  testing_support::waitUntil(readNumbered, 20000);
  std::vector<std::string> result;
  for (auto& [number, line] : numbered) {
    if (line.rfind("GET ", 0) == 0) result.push_back(std::move(line));
  }
  return result;
}

// ---- VirtualDisplay ----

VirtualDisplay::VirtualDisplay() {
  const fs::path xvfb = "/usr/bin/Xvfb";
  if (!fs::exists(xvfb)) return;
  // Xvfb picks a free number itself and writes it to the descriptor given: it also takes over
  // the lock files that a killed server left behind, which a check of our own would count as
  // taken until no number is left.
  const fs::path number = directory_ / "display";
  process_ = startRedirected({xvfb.string(), "-displayfd", "1", "-screen", "0", "1280x800x24",
                              "-nolisten", "tcp"},
                             number, directory_ / "xvfb.err", "/");
  if (!process_) return;
  const auto written = [&] { return testing_support::readFile(number).find('\n') != std::string::npos; };
  if (testing_support::waitUntil([&] { return written() || hasEnded(*process_); }, 10000) && !hasEnded(*process_)) {
    const std::string text = testing_support::readFile(number);
    name_ = ":" + text.substr(0, text.find('\n'));
  } else {
    ADD_FAILURE() << "Xvfb did not start: " << testing_support::readFile(directory_ / "xvfb.err");
    stopByPid(process_);
  }
}

VirtualDisplay::~VirtualDisplay() { stopByPid(process_); }

Tinyproxy::Tinyproxy(const fs::path& dir, const std::string& extraConfig) : log_(dir / "tinyproxy.log") {
  // tinyproxy takes no port 0: a port the system just gave out, tried again if taken meanwhile.
  for (int attempt = 0; attempt < 3 && !process_; ++attempt) {
    testing_support::LoopbackServer probe;
    probe.start();
    port_ = probe.port();
    probe.stop();
    fs::remove(log_);
    testing_support::writeFile(dir / "tinyproxy.conf", "Port " + std::to_string(port_) +
                                                           "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\n"
                                                           "LogLevel Info\nLogFile \"" + log_.string() + "\"\n" +
                                                           extraConfig + "\n");
    process_ = startRedirected({"/usr/bin/tinyproxy", "-d", "-c", (dir / "tinyproxy.conf").string()},
                               dir / "tinyproxy.out", dir / "tinyproxy.err", dir);
    if (!process_) return;
    const auto up = [&] { return testing_support::readFile(log_).find("Accepting connections") != std::string::npos; };
    if (!testing_support::waitUntil([&] { return up() || hasEnded(*process_); }, 10000) || hasEnded(*process_)) stopByPid(process_);
  }
  if (!process_) ADD_FAILURE() << "tinyproxy did not come up: " << testing_support::readFile(dir / "tinyproxy.err");
}

Tinyproxy::~Tinyproxy() { stopByPid(process_); }

// tinyproxy logs a request when it reads it, before it forwards it, so the line is there by
// the time the client has its answer.
std::vector<std::string> Tinyproxy::requests() const {
  std::vector<std::string> requests;
  const std::string mark = "]: Request (file descriptor ";
  for (const std::string& line : readLines(log_)) {
    const std::size_t at = line.find(mark);
    if (at == std::string::npos) continue;
    const std::size_t start = line.find("): ", at) + 3;
    requests.push_back(line.substr(start, line.rfind(" HTTP/") - start));
  }
  return requests;
}

int runToEnd(const fs::path& program, const std::vector<std::string>& arguments,
             const fs::path& stdoutFile, const fs::path& stderrFile, int timeoutMs) {
  std::vector<std::string> command = {program.string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  platform::ProcessHandle process = startRedirected(command, stdoutFile, stderrFile, "/");
  if (!process) return -1;
  std::uint32_t errorCode = 0;
  if (platform::waitForExit(*process, timeoutMs, errorCode) != platform::WaitResult::Exited) {
    stopByPid(process);
    return -1;
  }
  std::uint32_t exitCode = 0;
  if (!platform::readExitCode(*process, exitCode, errorCode)) return -1;
  return static_cast<int>(exitCode);
}

// ---- log expectations ----

bool matchesExpected(const LogLine& line, const Expected& expected) {
  return line.level == expected.level &&
         std::regex_match(line.message, std::regex(patternOf(expected.text)));
}

::testing::AssertionResult logMatches(const std::vector<LogLine>& actual,
                                      const std::vector<Expected>& expected) {
  std::size_t differing = 0;
  while (differing < actual.size() && differing < expected.size() &&
         matchesExpected(actual[differing], expected[differing])) {
    ++differing;
  }
  if (differing == actual.size() && differing == expected.size()) {
    return ::testing::AssertionSuccess();
  }
  std::ostringstream report;
  report << "log line " << differing + 1 << " differs\n  expected: "
         << (differing < expected.size() ? describe(expected[differing]) : "(no more lines)")
         << "\n  actual:   "
         << (differing < actual.size() ? describe(actual[differing]) : "(no more lines)")
         << "\nwhole log of the run:\n";
  for (const LogLine& line : actual) report << "  " << describe(line) << "\n";
  report << "expected:\n";
  for (const Expected& line : expected) report << "  " << describe(line) << "\n";
  return ::testing::AssertionFailure() << report.str();
}

// ---- Installation ----

Installation::Installation(fs::path directory) : dir_(std::move(directory)) {
  fs::create_directories(dir_);
  fs::create_directories(scratchDir());
  fs::copy_file(buildSetup().launcher, launcher(), fs::copy_options::overwrite_existing);
  fs::permissions(launcher(), fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec);
}

fs::path Installation::scratchDir() const {
  return dir_.parent_path() / (dir_.filename().string() + "-runs");
}

std::string Installation::dirText() const { return launcherPathText(dir_); }

void Installation::mirror(const Release& release) {
  const fs::path source = release.platformDir();
  for (fs::recursive_directory_iterator it(source), end; it != end; ++it) {
    const fs::path target = dir_ / it->path().lexically_relative(source);
    if (it->is_symlink()) {
      fs::create_directories(target.parent_path());
      fs::create_symlink(fs::read_symlink(it->path()), target);
    } else if (it->is_regular_file()) {
      fs::create_directories(target.parent_path());
      fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing);
      setFileTime(target, mtimeOf(it->path()));
    }
  }
}

void Installation::setMainProgramBehaviour(const std::string& behaviour) {
  testing_support::writeFile(dir_ / "vardel-behaviour.txt", behaviour + "\n");
}

Installation::Started Installation::start(const std::vector<std::string>& arguments,
                                          const RunOptions& options) const {
  static std::atomic<int> runNumber{0};
  const std::string stem = "run-" + std::to_string(++runNumber);
  // Headless unless a display is given; the language comes from LANG alone.
  std::vector<std::string> command = {kEnv.string(), "-u", "DISPLAY", "-u", "LC_ALL",
                                      "-u", "LC_MESSAGES", "LANG=" + options.language};
  if (!options.display.empty()) command.push_back("DISPLAY=" + options.display);
  // The launcher registers its URL schemes in the user's own directories: give it a home of
  // the test's, so that nothing outside the test's directories is written.
  const fs::path home = scratchDir() / "home";
  command.push_back("HOME=" + home.string());
  command.push_back("XDG_DATA_HOME=" + (home / "data").string());
  command.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
  // Only matters in sanitizer builds: leaks of system libraries are not the launcher's.
  command.push_back(std::string("LSAN_OPTIONS=suppressions=") + KESTRUN_E2E_LSAN_SUPPRESSIONS +
                    ":print_suppressions=0");
  command.insert(command.end(), options.environment.begin(), options.environment.end());
  command.insert(command.end(), options.interpreter.begin(), options.interpreter.end());
  command.push_back(launcher().string());
  command.insert(command.end(), arguments.begin(), arguments.end());
  Started started;
  started.ownProcessId = options.interpreter.empty();
  started.stderrFile = scratchDir() / (stem + ".stderr");
  started.process = startRedirected(command, scratchDir() / (stem + ".stdout"), started.stderrFile,
                                    options.workingDirectory.empty() ? scratchDir() : options.workingDirectory);
  return started;
}

LauncherOutcome Installation::finish(Started started, int timeoutMs) const {
  LauncherOutcome outcome;
  platform::ProcessHandle& process = started.process;
  if (!process) return outcome;
  outcome.pid = platform::processId(*process);
  std::uint32_t errorCode = 0;
  outcome.finished =
      platform::waitForExit(*process, timeoutMs, errorCode) == platform::WaitResult::Exited;
  if (outcome.finished) {
    platform::readExitCode(*process, outcome.exitCode, errorCode);
  } else {
    stopByPid(process);
  }
  outcome.standardError = testing_support::readFile(started.stderrFile);
  if (!started.ownProcessId) outcome.pid = latestBannerProcessId(dir_);
  readRunLog(dir_, outcome.pid, outcome);
  return outcome;
}

LauncherOutcome Installation::run(const std::vector<std::string>& arguments,
                                  const RunOptions& options, int timeoutMs) const {
  return finish(start(arguments, options), timeoutMs);
}

std::vector<std::string> Installation::updateReport() const {
  return readLines(dir_ / "update.log");
}

std::vector<MainProgramStart> Installation::mainProgramStarts(std::size_t atLeast,
                                                              int timeoutMs) const {
  std::vector<MainProgramStart> starts;
  testing_support::waitUntil(
      [&] {
        starts.clear();
        for (const std::string& line : readLines(dir_ / "vardel-starts.txt")) {
          const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
          if (record.is_discarded()) continue;  // a line still being written
          starts.push_back({record.value("args", std::vector<std::string>{}),
                            record.value("cwd", std::string{}),
                            record.value("commandLine", std::string{})});
        }
        return starts.size() >= atLeast;
      },
      timeoutMs);
  return starts;
}

std::string windowsCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
  std::string line = "\"" + program + "\"";
  for (const std::string& argument : arguments) {
    line += " \"";
    for (char c : argument) line += c == '"' ? std::string("\\\"") : std::string(1, c);
    line += "\"";
  }
  return line;
}

// ---- files ----

std::int64_t mtimeOf(const fs::path& file) {
  const auto system = std::chrono::file_clock::to_sys(fs::last_write_time(file));
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

std::vector<std::string> snapshotTree(const fs::path& dir, const fs::path& skip) {
  std::vector<std::string> items;
  for (fs::recursive_directory_iterator it(dir), end; it != end; ++it) {
    if (!skip.empty() && it->path() == skip) {
      it.disable_recursion_pending();
      continue;
    }
    const std::string relative = it->path().lexically_relative(dir).generic_string();
    if (it->is_symlink()) {
      items.push_back("link " + relative + " -> " + fs::read_symlink(it->path()).string());
    } else if (it->is_directory()) {
      items.push_back("dir  " + relative);
    } else {
      items.push_back("file " + relative + " = " + testing_support::readFile(it->path()));
    }
  }
  std::sort(items.begin(), items.end());
  return items;
}

std::vector<std::string> logFileNames(const fs::path& installDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(installDir / "logs", ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string todaysLogFileName() {
  const std::time_t now = std::time(nullptr);
  char date[16];
  std::strftime(date, sizeof date, "%Y%m%d", std::localtime(&now));
  return std::string("kestrun-") + date + ".log";
}

std::vector<std::string> readLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace e2e
