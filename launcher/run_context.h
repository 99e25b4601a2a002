#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/native_string.h"
#include "platform/process.h"
#include "wire/object_limits.h"
#include "update/transfer_context.h"

// What a build of the launcher is set up with. The entry point fills it with the product's
// values; a test launcher may pass others.
struct LauncherSettings {
  std::string baseUrl = {};            // the update server; empty: no server is asked
  std::string manifestPublicKey = {};  // base64 keys that sign the manifests, comma-separated; empty: not signed
  long stallTimeoutSeconds = kDefaultStallTimeoutSeconds;  // given up below 1 byte/s for this long
  int parallelTransfers = 1;           // files an update downloads at once
  // How long a second launcher waits for the run already at work on the installation before
  // it starts the program without updating: enough for a normal update of a large release
  // (a 1 GiB download at 10 Mbit/s takes about 14 minutes), short of forever.
  long lockWaitSeconds = 15 * 60;
  std::uint64_t decoderWindowBudget = kDecoderWindowBudget;  // decoder memory of all transfers together
  std::uint64_t bufferedObjectBytes = kBufferedObjectBytes;  // larger results decode into their mapped file
};

// The values that live for one run of the launcher, owned by the entry point.
struct RunContext {
  bool chinese = false;  // UI language of every message box and of the progress window
  std::vector<platform::NativeString> forwardedArgs;
  std::filesystem::path installDir;
  std::filesystem::path mainProgramPath;
  std::filesystem::path stagingDir;
  bool mainProgramPresent = false;
  platform::ProcessHandle mainProgramProcess;  // the early-started main program, until stopped or released
  LauncherSettings settings;
  // Set when this run took a release back after failed starts: the release and the exit code
  // of its last failed start, for the health report.
  std::string rolledBackRelease;
  std::uint32_t rolledBackExitCode = 0;
};
