#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/native_string.h"
#include "platform/process.h"

// "0x" and exactly eight upper-case hexadecimal digits.
std::string formatHex32(std::uint32_t value);

// code (0xHHHHHHHH)；system text — the form every process message uses for a system error.
std::string formatSystemErrorReport(std::uint32_t code);

// code (0xHHHHHHHH) — the form of an exit code in the log.
std::string formatExitCodeReport(std::uint32_t exitCode);

// Starts the installed main program before the update check and hands its process back so
// that an update can stop it. Null on failure (logged).
platform::ProcessHandle startExistingMainProgram(const std::filesystem::path& programPath,
                                                 const std::vector<platform::NativeString>& arguments);

// What the first seconds of a started main program showed.
struct StartObservation {
  bool started = false;
  bool exitedEarly = false;    // it ended within them
  std::uint32_t exitCode = 0;  // its exit code, when it ended and the code could be read
  // A start that went wrong: the program could not be started, or ended early with a code other
  // than 0, a crash (an unhandled exception on Windows, a signal elsewhere) included. Ending
  // with 0 is no failure.
  bool failed() const { return !started || (exitedEarly && exitCode != 0); }
};

// How long a start is watched unless a release asks for longer.
inline constexpr int kStartWatchSeconds = 5;

// Starts the main program and watches its first `windowSeconds`; keeps no handle.
StartObservation startAndObserveMainProgram(const std::filesystem::path& programPath,
                                            const std::vector<platform::NativeString>& arguments,
                                            int windowSeconds = kStartWatchSeconds);

// Watches a program started a moment ago for `windowSeconds`, logging what it showed.
StartObservation observeStart(platform::ChildProcess& process, int windowSeconds);

// Closes the handle (noting in the log when the program has already ended). The program
// itself keeps running.
void releaseMainProgramHandle(platform::ProcessHandle& process);

// Terminates a running main program before its files are replaced and waits up to
// timeoutMs for it to end. Every outcome is logged; nothing is passed back.
void stopMainProgramBeforeUpdate(platform::ChildProcess* process, int timeoutMs);
