#pragma once

#include <chrono>
#include <filesystem>

#include "platform/file_lock.h"

// Makes this run the only one at work on the installation: a second launcher (a double
// click, a URL opened during an update) waits here until the first has finished, then runs
// as usual. The wait is bounded by `wait`: a first run that hangs, or anyone else holding the
// lock, must not keep the user's program from starting. True when the lock is held; false,
// with the reason logged, when it could not be had (a link, a folder, a permission) or the
// wait ran out: the run then starts the program but updates nothing. `lock` holds the lock
// until it is destroyed.
bool lockInstallation(const std::filesystem::path& installDir, platform::FileLock& lock, std::chrono::seconds wait);
