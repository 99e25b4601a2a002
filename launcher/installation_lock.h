#pragma once

#include <filesystem>

#include "platform/file_lock.h"

// Makes this run the only one at work on the installation: a second launcher (a double
// click, a URL opened during an update) waits here until the first has finished, then runs
// as usual. The wait and a lock that cannot be taken are logged; neither stops the run,
// since a failed lock must never keep the user's program from starting. `lock` holds the
// lock until it is destroyed.
void lockInstallation(const std::filesystem::path& installDir, platform::FileLock& lock);
