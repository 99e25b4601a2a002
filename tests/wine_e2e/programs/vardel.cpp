// Vardel.exe of the Wine end-to-end tests: a Windows stand-in for the main program.
//
// At every start it appends one JSON line to vardel-starts.txt in its own directory:
//   {"args": [...], "commandLine": "...", "cwd": "..."}
// args is the wide command line (GetCommandLineW) split by CommandLineToArgvW without element
// 0, commandLine the raw line, cwd the working directory, all as UTF-8. Then it does what
// vardel-behaviour.txt (also in its own directory) says:
//   exit CODE      end at once with that exit code
//   crash 1        end at once by an access violation that nothing handles
//   stay SECONDS   stay alive that long, but end early once the behaviour file is removed
// Without that file it stays alive 8 seconds, ending early if its directory disappears.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/text.h"

namespace {

std::wstring ownDirectory() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path(buffer.data(), length);
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring currentDirectory() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  return std::wstring(buffer.data(), length);
}

std::vector<std::string> splitCommandLine(const wchar_t* commandLine) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** split = CommandLineToArgvW(commandLine, &count);
  if (!split) return args;
  for (int index = 1; index < count; ++index) args.push_back(platform::toUtf8(split[index]));
  LocalFree(split);
  return args;
}

void recordStart(const std::wstring& directory) {
  const wchar_t* commandLine = GetCommandLineW();
  nlohmann::json record;
  record["args"] = splitCommandLine(commandLine);
  record["commandLine"] = platform::toUtf8(commandLine);
  record["cwd"] = platform::toUtf8(currentDirectory());
  const std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  FILE* out = _wfopen((directory + L"\\vardel-starts.txt").c_str(), L"ab");
  if (!out) return;
  std::fwrite(line.data(), 1, line.size(), out);
  std::fclose(out);
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Sleeps up to `seconds`, returning early once `watched` no longer exists.
void stayWhileExists(const std::wstring& watched, int seconds) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  while (GetTickCount64() < deadline && exists(watched)) Sleep(100);
}

}  // namespace

int main() {
  const std::wstring directory = ownDirectory();
  recordStart(directory);

  const std::wstring behaviourFile = directory + L"\\vardel-behaviour.txt";
  std::ifstream behaviour(behaviourFile.c_str());
  std::string word;
  int number = 0;
  if (behaviour >> word >> number) {
    behaviour.close();
    if (word == "exit") return number;
    if (word == "crash") RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    if (word == "stay") {
      stayWhileExists(behaviourFile, number);
      return 0;
    }
  }
  stayWhileExists(directory, 8);
  return 0;
}
