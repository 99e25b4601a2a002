// Child processes on Linux.
//
// A child is started with posix_spawn in a session of its own, so it outlives the launcher and
// the launcher's terminal, with no descriptors beyond 0, 1 and 2. The handle keeps the process
// id and, once the child has been reaped, its wait status; a reaped id is never signalled again,
// because the system may already have given it to another process.
//
// Exit codes follow GetExitCodeProcess: 259 (STILL_ACTIVE) while the child runs, its exit status
// after a normal exit, and 128 + N after death by signal N, as shells report it. The exception
// is a child ended by our own terminateProcess: its SIGKILL death reads as the exit code given
// there, just as TerminateProcess sets that code on Windows.
//
// A process found by its executable is no child of ours: it is held by a pidfd, which keeps
// naming that one process after it ends (its id is never signalled), tells by polling
// whether it has ended, and carries the signal; its exit code cannot be read.
#include "platform/process.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/posix/descriptor.h"

extern char** environ;

namespace platform {

namespace {

// Called through syscall(): the C library's own wrappers are missing from older headers. The
// kernel opens every pidfd close-on-exec.
int openPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int signalPidfd(int pidfd, int signal) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

}  // namespace

class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ChildProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}

  pid_t pid() const { return pid_; }
  bool reaped() const { return reaped_; }
  // Held by a pidfd: a process found running, not started here.
  int pidfd() const { return pidfd_.get(); }

  // Collects the child's status if it has ended. 0 when it has ended (or ended before), an
  // errno value when waitpid fails; `ended` says which.
  int poll(bool& ended) {
    ended = reaped_;
    if (reaped_) return 0;
    if (pidfd_.get() >= 0) return pollPidfd(ended);
    for (;;) {
      int status = 0;
      const pid_t result = ::waitpid(pid_, &status, WNOHANG);
      if (result == pid_) {
        reaped_ = true;
        status_ = status;
        ended = true;
        return 0;
      }
      if (result == 0) return 0;
      if (errno != EINTR) return errno;
    }
  }

  std::uint32_t exitCode() const {
    if (WIFEXITED(status_)) return static_cast<std::uint32_t>(WEXITSTATUS(status_));
    if (WIFSIGNALED(status_)) {
      const int signal = WTERMSIG(status_);
      if (terminated_ && signal == SIGKILL) return terminationCode_;
      return 128u + static_cast<std::uint32_t>(signal);
    }
    return 0;
  }

  void markTerminated(std::uint32_t exitCode) {
    terminated_ = true;
    terminationCode_ = exitCode;
  }

 private:
  // A pidfd reads as ready once its process has ended (a zombie counts as ended).
  int pollPidfd(bool& ended) {
    pollfd ready{pidfd_.get(), POLLIN, 0};
    for (;;) {
      const int result = ::poll(&ready, 1, 0);
      if (result >= 0) {
        ended = result > 0;
        return 0;
      }
      if (errno != EINTR) return errno;
    }
  }

  pid_t pid_;
  posix::Descriptor pidfd_;
  bool reaped_ = false;
  int status_ = 0;
  bool terminated_ = false;
  std::uint32_t terminationCode_ = 0;
};

void ChildProcessCloser::operator()(ChildProcess* process) const {
  // Never kills and never blocks: an ended child is reaped now, a running one is left alone
  // (it is reaped by init once the launcher is gone).
  bool ended = false;
  process->poll(ended);
  delete process;
}

namespace {

constexpr std::uint32_t kStillActive = 259;

// posix_spawn's attribute objects, destroyed on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool haveActions = false;
  bool haveAttributes = false;

  ~SpawnSetup() {
    if (haveActions) posix_spawn_file_actions_destroy(&actions);
    if (haveAttributes) posix_spawnattr_destroy(&attributes);
  }

  int prepare(const std::filesystem::path& workingDirectory) {
    int error = posix_spawn_file_actions_init(&actions);
    if (error) return error;
    haveActions = true;
    error = posix_spawnattr_init(&attributes);
    if (error) return error;
    haveAttributes = true;

    if (!workingDirectory.empty()) {
      error = posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
      if (error) return error;
    }
    // Nothing of the launcher leaks into the child: not its log file, not its sockets.
    error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (error) return error;

    // A session of its own, so closing the launcher's terminal does not end the child; and
    // default signal handling with nothing blocked, whatever the launcher had set.
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    error = posix_spawnattr_setsigmask(&attributes, &none);
    if (!error) error = posix_spawnattr_setsigdefault(&attributes, &all);
    if (!error) {
      error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    return error;
  }
};

}  // namespace

ProcessHandle startProcess(const std::filesystem::path& program, const std::vector<NativeString>& arguments,
                           const std::filesystem::path& workingDirectory, std::uint32_t& errorCode) {
  // The child changes directory before it runs the program, so a relative program path must be
  // resolved against the launcher's directory first.
  std::error_code absoluteError;
  const std::filesystem::path executable = std::filesystem::absolute(program, absoluteError);
  if (absoluteError) {
    errorCode = static_cast<std::uint32_t>(absoluteError.value());
    return nullptr;
  }

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  NativeString programText = program.native();
  argv.push_back(programText.data());
  std::vector<NativeString> argumentCopies(arguments);
  for (NativeString& argument : argumentCopies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  SpawnSetup setup;
  int error = setup.prepare(workingDirectory);
  pid_t pid = -1;
  if (!error) error = ::posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
  if (error) {
    errorCode = static_cast<std::uint32_t>(error);
    return nullptr;
  }
  errorCode = 0;
  return ProcessHandle(new ChildProcess(pid));
}

std::uint32_t processId(const ChildProcess& process) { return static_cast<std::uint32_t>(process.pid()); }

WaitResult waitForExit(ChildProcess& process, int timeoutMs, std::uint32_t& errorCode) {
  using Clock = std::chrono::steady_clock;
  // A negative time-out waits without limit, as it does when Windows reads it as a DWORD.
  const bool unlimited = timeoutMs < 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  std::chrono::milliseconds pause(1);
  for (;;) {
    bool ended = false;
    if (int error = process.poll(ended)) {
      errorCode = static_cast<std::uint32_t>(error);
      return WaitResult::Failed;
    }
    if (ended) return WaitResult::Exited;
    std::chrono::milliseconds sleep = pause;
    if (!unlimited) {
      const Clock::time_point now = Clock::now();
      if (now >= deadline) return WaitResult::TimedOut;
      sleep = std::min(sleep, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
    }
    // Short pauses at first (a killed child is gone within a millisecond), then 16 ms at most.
    std::this_thread::sleep_for(sleep);
    if (pause < std::chrono::milliseconds(16)) pause *= 2;
  }
}

bool readExitCode(ChildProcess& process, std::uint32_t& exitCode, std::uint32_t& errorCode) {
  bool ended = false;
  if (process.pidfd() >= 0) {
    // Only the parent learns how a process ended.
    errorCode = ECHILD;
    return false;
  }
  if (int error = process.poll(ended)) {
    errorCode = static_cast<std::uint32_t>(error);
    return false;
  }
  exitCode = ended ? process.exitCode() : kStillActive;
  return true;
}

bool terminateProcess(ChildProcess& process, std::uint32_t exitCode, std::uint32_t& errorCode) {
  // A reaped child's id may already belong to someone else: there is nothing left to end.
  if (process.reaped()) return true;
  if (process.pidfd() >= 0 ? signalPidfd(process.pidfd(), SIGKILL) != 0
                           : ::kill(process.pid(), SIGKILL) != 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    return false;
  }
  process.markTerminated(exitCode);
  return true;
}

std::vector<ProcessHandle> openProcessesRunning(const std::filesystem::path& executable) {
  std::vector<ProcessHandle> found;
  std::error_code error;
  const std::filesystem::path wanted = std::filesystem::canonical(executable, error);
  if (error) return found;
  const pid_t own = ::getpid();
  for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    char* rest = nullptr;
    const long pid = std::strtol(name.c_str(), &rest, 10);
    if (name.empty() || *rest != '\0' || pid <= 0 || pid == own) continue;
    // Opened first and compared after: an id reused between the listing and the opening then
    // names a process whose own executable is compared, never one that was not.
    const int pidfd = openPidfd(static_cast<pid_t>(pid));
    if (pidfd < 0) continue;
    ProcessHandle process(new ChildProcess(static_cast<pid_t>(pid), pidfd));
    std::error_code linkError;
    const std::filesystem::path running = std::filesystem::read_symlink(entry->path() / "exe", linkError);
    // The link spoke of the opened process only if that one still held the id after the read.
    bool ended = false;
    if (linkError || running != wanted || process->poll(ended) || ended) continue;
    found.push_back(std::move(process));
  }
  return found;
}

}  // namespace platform
