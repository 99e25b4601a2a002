// The launcher's surroundings on Linux: its own file, arguments, system name, language and clock.
#include "platform/environment.h"

#include <limits.h>
#include <sys/random.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>

namespace platform {

bool ownExecutablePath(std::filesystem::path& result) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      break;
    }
    // A full buffer may mean a cut-off path: try again with more room.
    if (buffer.size() >= (1u << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
  if (buffer.empty()) return false;
  result = std::filesystem::path(buffer);
  return true;
}

std::vector<NativeString> launcherArguments(int argc, char** argv) {
  std::vector<NativeString> arguments;
  if (!argv) return arguments;
  // A null element still counts, as an empty argument, so that positions are kept.
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  return arguments;
}

namespace {

// The machine this launcher was built for, named as uname names it.
const char* builtMachineName() {
#if defined(__x86_64__)
  return "x86_64";
#elif defined(__aarch64__)
  return "aarch64";
#elif defined(__i386__)
  return "i686";
#else
  return "unknown";
#endif
}

}  // namespace

std::string describePlatform() {
  struct utsname names;
  // Without uname the machine still ends the line, as the architecture ends it on Windows.
  if (::uname(&names) != 0) return std::string("Linux（无法读取版本号） ") + builtMachineName();
  return std::string(names.sysname) + " " + names.release + " " + names.machine;
}

bool isChineseUi() {
  // The order in which the C library itself picks the language of its messages.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return isChineseLocaleName(value);
  }
  return false;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::error_code systemRandomBytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::getrandom(bytes, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::error_code(errno, std::generic_category());
    }
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return {};
}

std::string computerName() {
  // The static name the administrator gave the machine: the running name may be one that a
  // DHCP lease set for the moment, and change with the next network.
  std::ifstream file("/etc/hostname");
  std::string name;
  std::getline(file, name);
  const std::size_t first = name.find_first_not_of(" \t\r");
  name = first == std::string::npos ? std::string() : name.substr(first, name.find_last_not_of(" \t\r") - first + 1);
  if (!name.empty() && name.size() <= HOST_NAME_MAX) return name;
  char running[HOST_NAME_MAX + 1] = {};
  if (::gethostname(running, sizeof running - 1) != 0) return {};
  return running;
}

std::tm localTime(std::time_t moment) {
  // localtime_r alone reads the zone only once per process; tzset picks up a changed TZ.
  // tzset rewrites the C library's zone state, so the two calls run under one lock.
  static std::mutex zoneMutex;
  std::tm result{};
  std::lock_guard<std::mutex> lock(zoneMutex);
  ::tzset();
  ::localtime_r(&moment, &result);
  return result;
}

}  // namespace platform
