#pragma once

#include <chrono>
#include <filesystem>
#include <ostream>

// What KestrunRemove does for the uninstaller, and the exit code it ends with.
enum class RemovalExit {
  Removed = 0,         // everything it meant to remove is gone
  NotInstallation = 2, // (or a wrong command line): nothing touched
  LockUnavailable = 3, // a launcher kept the installation lock: nothing touched
  ProgramRunning = 4,  // the program or a launcher could not be stopped: nothing removed
  SomeLeft = 5,        // some items could not be removed, each named (the record then names
                       // those it listed), or the record could not be read: nothing removed
};

struct RemovalSettings {
  std::filesystem::path installDir;
  std::chrono::seconds lockWait{60};
};

// Removes the installation at settings.installDir: takes its lock, stops its running launchers
// and main program, takes back its URL-scheme registration, removes what its record of
// installed paths names and the launcher's own items, then the folders left empty, and leaves
// everything else.
// Every line it has to say goes to `out`, in the order things happened.
RemovalExit removeInstallation(const RemovalSettings& settings, std::ostream& out);
