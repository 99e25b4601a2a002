#pragma once

// The pieces of an end-to-end run: a release published by the release server on the
// loopback port built into the launcher, an installation directory holding a copy of the
// launcher (its installation directory is its own directory), a run of that copy as a user
// would start it, and what the run left behind (its log lines, standard error, the main
// program's records of its starts).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace e2e {

namespace fs = std::filesystem;

// The programs under test and the launcher's built-in server address.
struct BuildSetup {
  fs::path launcher;
  fs::path releaseServer;
  fs::path mainProgram;
  std::string baseUrl;
  int port = 0;  // 0 when the base address is not http://127.0.0.1:PORT
  bool windowsLauncher = false;  // Kestrun.exe, run under Wine: its log names Windows paths
};
const BuildSetup& buildSetup();

// A local path as the launcher names it: canonical, and under Wine as the Windows path on
// drive Z: ("Z:\\tmp\\...").
std::string launcherPathText(const fs::path& path);

// Why the end-to-end tests cannot run with this build, or empty.
std::string whyNotRunnable();

// A release tree: root/windows/... (the launcher always asks for platform "windows").
class Release {
 public:
  explicit Release(fs::path root);
  const fs::path& root() const { return root_; }
  fs::path platformDir() const { return root_ / "windows"; }

  void addFile(const std::string& path, const std::string& content, std::int64_t mtime);
  void addProgram(const std::string& path, const fs::path& source, std::int64_t mtime);
  void addLink(const std::string& path, const std::string& target);
  // Fixes the manifest as the tree now stands, followed by `elements` (JSON objects joined by
  // commas, e.g. {"health":{"release":"r2"}}); served as written from then on.
  void fixManifestWith(const std::string& elements);

 private:
  fs::path root_;
};

// Misbehaviour directives for the release server (see docs/release-server.md).
void writeFaults(const fs::path& faultsFile, const std::string& directives);

// The release server, started by its own process id and stopped by it.
class ReleaseServer {
 public:
  // Fails the current test (and leaves the object not running) when the server does not
  // come up, e.g. because the port is taken.
  ReleaseServer(const fs::path& root, const fs::path& faultsFile, const fs::path& outputFile);
  ~ReleaseServer();
  ReleaseServer(const ReleaseServer&) = delete;
  ReleaseServer& operator=(const ReleaseServer&) = delete;

  bool running() const { return process_ != nullptr; }
  // The request lines logged so far: "GET <target> -> <status> (<user agent>)".
  std::vector<std::string> requests() const;

 private:
  platform::ProcessHandle process_;
  fs::path output_;
};

// Debian's tinyproxy on 127.0.0.1 and a free port, started by its process id and stopped by
// it; `extraConfig` lines join its configuration (e.g. "BasicAuth user secret").
class Tinyproxy {
 public:
  Tinyproxy(const fs::path& dir, const std::string& extraConfig = "");
  ~Tinyproxy();

  bool running() const { return process_ != nullptr; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // The requests it was asked to forward: "GET http://127.0.0.1:PORT/..." each.
  std::vector<std::string> requests() const;

 private:
  platform::ProcessHandle process_;
  fs::path log_;
  int port_ = 0;
};

// A virtual X display (Xvfb) of its own, started by its process id and stopped by it.
class VirtualDisplay {
 public:
  VirtualDisplay();
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  bool running() const { return process_ != nullptr; }
  const std::string& name() const { return name_; }  // ":N"

 private:
  testing_support::TempDir directory_;
  platform::ProcessHandle process_;
  std::string name_;
};

// Runs a helper program to its end (at most timeoutMs), its standard output and error
// going to files. Returns its exit code, or -1 when it could not be run or timed out.
int runToEnd(const fs::path& program, const std::vector<std::string>& arguments,
             const fs::path& stdoutFile, const fs::path& stderrFile, int timeoutMs);

struct LogLine {
  std::string level;    // INFO, WARN or ERROR
  std::string message;  // the text after "[time] [LEVEL] [pid=N] "
};

// One expected log line. In `text`, "{N}" stands for a run of digits and "{*}" for any text.
struct Expected {
  std::string level;
  std::string text;
};
bool matchesExpected(const LogLine& line, const Expected& expected);

// Compares a run's log with the expected lines, one for one and in order; on a difference
// the message names the first differing line, expected against actual, and lists both logs.
::testing::AssertionResult logMatches(const std::vector<LogLine>& actual,
                                      const std::vector<Expected>& expected);

// One start of the main program, as recorded by the sample main program.
struct MainProgramStart {
  std::vector<std::string> args;
  std::string cwd;
  std::string commandLine;  // the raw command line, where the program records it
};

struct LauncherOutcome {
  bool finished = false;        // ended within the time limit
  std::uint32_t exitCode = 0;
  std::uint32_t pid = 0;
  std::string standardError;
  std::vector<LogLine> log;     // this run's lines only (by its process id)
  bool logWellFormed = true;    // every line had the "[time] [LEVEL] [pid=N] " prefix
};

struct RunOptions {
  std::string display;          // empty: headless (DISPLAY unset)
  std::string language = "C.UTF-8";  // LANG for the run (LC_ALL and LC_MESSAGES unset)
  // The program that runs the launcher (e.g. {"wine"}), put right before it, and further
  // "NAME=value" settings for its environment. Through such a program the process started
  // need not carry the launcher's own process id: the run's log lines are then those of the
  // latest start banner.
  std::vector<std::string> interpreter;
  std::vector<std::string> environment;
  fs::path workingDirectory;  // the launcher's; empty: the folder beside the installation
};

// How a test program starts the launcher: the Linux launcher as a plain child process
// (linux_runner.cpp), or Kestrun.exe under Wine with its own prefix and virtual display
// (tests/wine_e2e/wine_session.cpp). Each program of shared cases links exactly one runner.
class LauncherRunner {
 public:
  virtual ~LauncherRunner() = default;
  // Why runs cannot be made here (a Wine prefix that could not be set up), or "".
  virtual std::string whyNotReady() const = 0;
  // The options of a run as a user starts the launcher on this platform.
  virtual RunOptions options() const = 0;
  // Says where the platform under test behaves differently from the real one (Wine from
  // Windows), in the test's output and its XML record.
  virtual void note(const std::string& text) const { (void)text; }
};
const LauncherRunner& runner();

// The platforms a case of a shared table runs on.
enum class Platforms { Both, LinuxOnly, WindowsOnly };
bool runsHere(Platforms platforms);

// An installation directory with a copy of the launcher in it.
class Installation {
 public:
  // Creates the directory (and a scratch directory beside it for the runs' output) and
  // copies the launcher into it.
  explicit Installation(fs::path directory);
  const fs::path& dir() const { return dir_; }
  fs::path launcher() const { return dir_ / launcherName(); }
  static std::string launcherName() { return buildSetup().launcher.filename().string(); }
  // The installation directory as the launcher writes it into its log.
  std::string dirText() const;
  std::string mainProgramText() const {
    return dirText() + (buildSetup().windowsLauncher ? "\\" : "/") + "Vardel.exe";
  }

  // Copies every file and link of the release into the installation with its time, so that
  // nothing differs.
  void mirror(const Release& release);
  // What the sample main program does after it has recorded its start ("stay 30", "exit 3").
  void setMainProgramBehaviour(const std::string& behaviour);

  // Starts the launcher with `arguments` in a working directory outside the installation,
  // and waits for it to end (at most timeoutMs).
  LauncherOutcome run(const std::vector<std::string>& arguments, const RunOptions& options = {},
                      int timeoutMs = 120000) const;

  // Starts the launcher without waiting; finish() waits for it and collects the outcome.
  struct Started {
    platform::ProcessHandle process;
    fs::path stderrFile;
    bool ownProcessId = true;  // false when started through an interpreter
  };
  Started start(const std::vector<std::string>& arguments, const RunOptions& options) const;
  LauncherOutcome finish(Started started, int timeoutMs) const;

  // The launcher's report of its latest successful check, line by line.
  std::vector<std::string> updateReport() const;

  // The main program's starts, waiting up to timeoutMs until at least `atLeast` are there.
  std::vector<MainProgramStart> mainProgramStarts(std::size_t atLeast, int timeoutMs = 30000) const;

 private:
  fs::path scratchDir() const;
  fs::path dir_;
};

// The command line with which the Windows launcher starts `program`: the quoted path, then
// every argument in double quotes with a backslash before each double quote inside it.
std::string windowsCommandLine(const std::string& program, const std::vector<std::string>& arguments);

// Whole-second last-write time of a file (following links), seconds since 1970 UTC.
std::int64_t mtimeOf(const fs::path& file);
using testing_support::setFileTime;

// Every file, link and directory below `dir` (relative paths) with file contents and link
// targets, for comparing a tree before and after a run.
std::vector<std::string> snapshotTree(const fs::path& dir, const fs::path& skip = {});

// The names of the files in the installation's logs directory, sorted.
std::vector<std::string> logFileNames(const fs::path& installDir);
// "kestrun-" + today's local date as YYYYMMDD + ".log".
std::string todaysLogFileName();

// Lines of a text file, without their line ends.
std::vector<std::string> readLines(const fs::path& file);

}  // namespace e2e
