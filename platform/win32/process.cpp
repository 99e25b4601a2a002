#include "platform/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include "platform/command_line.h"
#include "platform/extended_path.h"
#include "platform/win32/long_path.h"
#include "platform/win32/win32_handles.h"

namespace platform {

// The start-up block is handed over with nothing set but its size.
static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW of 64-bit Windows");

class ChildProcess {
 public:
  win32::UniqueHandle handle;
  DWORD id = 0;
};

void ChildProcessCloser::operator()(ChildProcess* process) const {
  // Only the handle is closed; the process itself keeps running.
  delete process;
}

ProcessHandle startProcess(const std::filesystem::path& program, const std::vector<NativeString>& arguments,
                           const std::filesystem::path& workingDirectory, std::uint32_t& errorCode) {
  errorCode = 0;
  // Everything that can throw happens before the process exists, so a started process
  // always ends up with an owner.
  ProcessHandle child(new ChildProcess);
  // CreateProcessW may write into the command line, so it gets a private, mutable copy.
  const std::wstring line = buildCommandLine(program.native(), arguments);
  std::vector<wchar_t> commandLine(line.begin(), line.end());
  commandLine.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  std::wstring directory;
  if (!workingDirectory.empty() && !win32::workingDirectoryText(workingDirectory, directory)) {
    errorCode = ERROR_FILENAME_EXCED_RANGE;
    return nullptr;
  }
  // A program name of MAX_PATH or more goes in its short (8.3) form where the volume keeps
  // one, which every Windows (and Wine) starts, else in its extended-length form; the command
  // line keeps the classic name the program is used to seeing as its first element.
  std::wstring application = program.native();
  if (application.size() >= MAX_PATH && !win32::classicPathText(program, MAX_PATH - 1, application)) {
    application = win32::systemPath(program);
  }
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &created)) {
    errorCode = GetLastError();
    return nullptr;
  }
  CloseHandle(created.hThread);
  child->handle.reset(created.hProcess);
  child->id = created.dwProcessId;
  return child;
}

std::uint32_t processId(const ChildProcess& process) { return process.id; }

WaitResult waitForExit(ChildProcess& process, int timeoutMs, std::uint32_t& errorCode) {
  errorCode = 0;
  const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  switch (WaitForSingleObject(process.handle.get(), timeout)) {
    case WAIT_OBJECT_0:
      return WaitResult::Exited;
    case WAIT_TIMEOUT:
      return WaitResult::TimedOut;
    default:
      errorCode = GetLastError();
      return WaitResult::Failed;
  }
}

bool readExitCode(ChildProcess& process, std::uint32_t& exitCode, std::uint32_t& errorCode) {
  errorCode = 0;
  DWORD code = 0;
  if (!GetExitCodeProcess(process.handle.get(), &code)) {
    errorCode = GetLastError();
    return false;
  }
  exitCode = code;
  return true;
}

bool terminateProcess(ChildProcess& process, std::uint32_t exitCode, std::uint32_t& errorCode) {
  errorCode = 0;
  if (!TerminateProcess(process.handle.get(), exitCode)) {
    errorCode = GetLastError();
    return false;
  }
  return true;
}

}  // namespace platform

namespace platform {

namespace {

// A path as Windows compares it: full, in its long form where the file exists, without the
// extended-length prefix.
std::wstring comparedPath(const std::wstring& path) {
  std::wstring text = win32::systemPath(path);
  std::wstring longForm(32768, L'\0');
  const DWORD length = GetLongPathNameW(text.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
  if (length > 0 && length < longForm.size()) text.assign(longForm.data(), length);
  return withoutExtendedPrefix(text);
}

bool samePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace

std::vector<ProcessHandle> openProcessesRunning(const std::filesystem::path& executable) {
  std::vector<ProcessHandle> found;
  const std::wstring wanted = comparedPath(executable.native());
  const std::wstring wantedName = executable.filename().native();
  win32::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const DWORD own = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    // The listing's name is a first filter only: every process would otherwise be opened.
    if (entry.th32ProcessID == own || !samePath(entry.szExeFile, wantedName)) continue;
    // Opened first and compared after: the handle holds the very process whose image is read.
    ProcessHandle process(new ChildProcess);
    process->handle.reset(
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process->handle) continue;
    process->id = entry.th32ProcessID;
    std::wstring image(32768, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!QueryFullProcessImageNameW(process->handle.get(), 0, image.data(), &length)) continue;
    image.resize(length);
    if (samePath(comparedPath(image), wanted)) found.push_back(std::move(process));
  }
  return found;
}

}  // namespace platform
