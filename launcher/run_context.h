#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/native_string.h"
#include "platform/process.h"

// The values that live for one run of the launcher, owned by the entry point.
struct RunContext {
  bool chinese = false;  // UI language of every message box and of the progress window
  std::vector<platform::NativeString> forwardedArgs;
  std::filesystem::path installDir;
  std::filesystem::path mainProgramPath;
  std::filesystem::path stagingDir;
  bool mainProgramPresent = false;
  platform::ProcessHandle mainProgramProcess;  // the early-started main program, until stopped or released
  std::string baseUrl;
  std::string manifestPublicKey;  // base64 key that signs the manifests; empty: not signed
};
