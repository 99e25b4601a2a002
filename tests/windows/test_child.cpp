// A small program that the Windows tests start as a child process. Its first argument
// chooses what it does:
//   argv ...           writes the arguments that CommandLineToArgvW finds after element 0,
//                      as UTF-8, each followed by a NUL byte, into argv.txt in its working
//                      directory
//   launcher-args ...  the same with platform::launcherArguments, into launcher-args.txt
//   own-path           writes platform::ownExecutablePath, as above, into own-path.txt; ends
//                      with exit code 1 when there is none
//   exit N             ends with exit code N
//   sleep MS           sleeps MS milliseconds, then ends with exit code 0
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/text.h"

namespace {

bool writeArguments(const wchar_t* fileName, const std::vector<std::wstring>& arguments) {
  std::string content;
  for (const std::wstring& argument : arguments) {
    content += platform::toUtf8(argument);
    content += '\0';
  }
  FILE* file = _wfopen(fileName, L"wb");
  if (!file) return false;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!split || count < 2) return 100;
  const std::wstring mode = split[1];
  std::vector<std::wstring> rest;
  for (int index = 1; index < count; ++index) rest.emplace_back(split[index]);
  const std::wstring value = count > 2 ? split[2] : L"";
  LocalFree(split);

  if (mode == L"argv") return writeArguments(L"argv.txt", rest) ? 0 : 101;
  if (mode == L"launcher-args") {
    return writeArguments(L"launcher-args.txt", platform::launcherArguments(argc, argv)) ? 0 : 101;
  }
  if (mode == L"own-path") {
    std::filesystem::path own;
    if (!platform::ownExecutablePath(own)) return 1;
    return writeArguments(L"own-path.txt", {own.native()}) ? 0 : 101;
  }
  if (mode == L"exit") return static_cast<int>(std::stoul(value));
  if (mode == L"sleep") {
    Sleep(static_cast<DWORD>(std::stoul(value)));
    return 0;
  }
  return 102;
}
