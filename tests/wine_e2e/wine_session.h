#pragma once

// One Wine prefix and one virtual display for a whole run of the Wine end-to-end tests: a
// prefix takes seconds to set up, so every case shares it. The prefix gets its own Wine server,
// started persistent and detached from the test's output, and stopped at the end.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/launcher/e2e_fixture.h"
#include "tests/support/temp_dir.h"

namespace wine_e2e {

namespace fs = std::filesystem;

class WineSession {
 public:
  // Sets the prefix up; check ready() afterwards.
  WineSession();
  // Stops every Wine process of the prefix (wineserver -k); the directory goes with it.
  ~WineSession();
  WineSession(const WineSession&) = delete;
  WineSession& operator=(const WineSession&) = delete;

  bool ready() const { return failure_.empty(); }
  const std::string& failure() const { return failure_; }
  const std::string& display() const { return display_.name(); }

  // "NAME=value" settings that select the prefix for a Wine program.
  std::vector<std::string> environment() const;

  // Runs `command` (e.g. {"wine", "reg", "query", ...}) in the prefix to its end, standard
  // output to `output` and standard error beside it. Its exit code, or -1.
  int run(const std::vector<std::string>& command, const fs::path& output, int timeoutMs) const;
  // Starts `command` in the prefix without waiting, its output as with run().
  platform::ProcessHandle start(const std::vector<std::string>& command, const fs::path& output) const;

 private:
  // The arguments of env that run `command` in the prefix, with a home of its own.
  std::vector<std::string> commandInPrefix(const std::vector<std::string>& command) const;
  bool step(const std::vector<std::string>& command, const std::string& what, int timeoutMs);

  testing_support::TempDir dir_;
  e2e::VirtualDisplay display_;
  std::string failure_;
  bool serverStarted_ = false;
  int steps_ = 0;
};

// The session of this test program (set up by its main).
const WineSession& session();

// Says where Wine behaves differently from Windows, both in the test's output and in its
// XML record.
void wineNote(const std::string& text);

using e2e::windowsCommandLine;

// Runs of Kestrun.exe under Wine: the end-to-end fixture, whose runner here is the Wine runner.
using WineEndToEnd = e2e::LauncherEndToEnd;

}  // namespace wine_e2e
