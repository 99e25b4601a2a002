#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/native_string.h"

namespace platform {

// One started child process. Closing it (destroying the handle) never touches the process:
// a running program keeps running.
class ChildProcess;
struct ChildProcessCloser {
  void operator()(ChildProcess* process) const;
};
using ProcessHandle = std::unique_ptr<ChildProcess, ChildProcessCloser>;

// Starts `program` with `arguments` in `workingDirectory`. The child inherits no handles or
// descriptors beyond the standard ones and outlives the launcher. On Windows the command line
// is buildCommandLine(program, arguments). Null on failure, with the system error code.
ProcessHandle startProcess(const std::filesystem::path& program,
                           const std::vector<NativeString>& arguments,
                           const std::filesystem::path& workingDirectory, std::uint32_t& errorCode);

std::uint32_t processId(const ChildProcess& process);

enum class WaitResult { Exited, TimedOut, Failed };

// Waits at most timeoutMs (0 polls). On Failed, errorCode holds the system error.
WaitResult waitForExit(ChildProcess& process, int timeoutMs, std::uint32_t& errorCode);

// The exit code of an ended process (GetExitCodeProcess semantics: 259 while it runs).
// Elsewhere a process killed by signal N reads as 128 + N, except that a process ended by
// terminateProcess reads as the exit code given there.
bool readExitCode(ChildProcess& process, std::uint32_t& exitCode, std::uint32_t& errorCode);

// Ends the process at once (TerminateProcess; SIGKILL elsewhere).
bool terminateProcess(ChildProcess& process, std::uint32_t exitCode, std::uint32_t& errorCode);

// Every other running process whose executable is the file `executable`, compared as the
// system names files (Windows: full paths, letter case ignored; elsewhere the canonical
// path). Each is opened before its executable is read, so an id reused in between is never
// taken for the program. The handles serve waitForExit and terminateProcess; readExitCode
// fails on them outside Windows (only the parent learns how a process ended). A process
// that cannot be opened (another user's) is left out; none when the list cannot be read.
std::vector<ProcessHandle> openProcessesRunning(const std::filesystem::path& executable);

}  // namespace platform
