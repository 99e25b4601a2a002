#pragma once

#include <chrono>
#include <filesystem>

#include "platform/file_lock.h"

enum class InstallationLock { Held, Unavailable, WaitRanOut };

// Makes this run the only one at work on the installation: a second launcher (a double
// click, a URL opened during an update) waits here until the first has finished, then runs
// as usual. The wait is bounded by `wait`: a first run that hangs, or anyone else holding the
// lock, must not keep the user's program from starting. Held, or, with the reason logged,
// Unavailable (a link, a folder, a permission) or WaitRanOut: the run then starts the program
// but updates nothing. `lock` holds the lock until it is destroyed.
InstallationLock lockInstallation(const std::filesystem::path& installDir, platform::FileLock& lock,
                                  std::chrono::seconds wait);

// Held by the run that stops the program for an update, from before the stop until it has
// started the program again: a launcher whose wait ran out must not start the program in
// the middle of that update (its files would be held open while they are replaced).
// Failing to take it costs only that guard, with a warning.
void holdWhileProgramIsStopped(const std::filesystem::path& installDir, platform::FileLock& lock);

// Whether another run holds the lock above, and so will start the program itself.
bool anotherRunWillStartTheProgram(const std::filesystem::path& installDir);
