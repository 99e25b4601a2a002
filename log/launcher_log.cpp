#include "log/launcher_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "names/installation_layout.h"
#include "platform/environment.h"
#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace {

// The process-wide sink: one mutex, one file. Held only for opening and for one write.
struct LogSink {
  std::mutex mutex;
  platform::FileWriter file;
  bool failed = false;  // a failed write loses this and every later line, like a failed stream
};

LogSink& sink() {
  static LogSink instance;
  return instance;
}

std::int64_t nowUnixMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string formatLocal(std::time_t moment, const char* format) {
  std::tm local = platform::localTime(moment);
  char buffer[64];
  std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, length);
}

std::string errorMessage(const std::error_code& error) {
  return platform::windowsErrorText(static_cast<std::uint32_t>(error.value()));
}

}  // namespace

std::string formatLogLine(std::int64_t unixMilliseconds, const char* level, std::uint32_t processId,
                          const std::string& message) {
  std::int64_t seconds = unixMilliseconds / 1000;
  int millis = static_cast<int>(unixMilliseconds % 1000);
  if (millis < 0) {
    millis += 1000;
    seconds -= 1;
  }
  char millisText[8];
  std::snprintf(millisText, sizeof millisText, "%03d", millis);
  std::string line;
  line.reserve(message.size() + 64);
  line += '[';
  line += formatLocal(static_cast<std::time_t>(seconds), "%Y-%m-%d %H:%M:%S");
  line += '.';
  line += millisText;
  line += "] [";
  line += level;
  line += "] [pid=";
  line += std::to_string(processId);
  line += "] ";
  line += message;
  line += '\n';
  return line;
}

void logLine(const char* level, const std::string& message) {
  const std::string line = formatLogLine(nowUnixMilliseconds(), level, platform::currentProcessId(), message);
  LogSink& log = sink();
  std::lock_guard<std::mutex> lock(log.mutex);
  if (log.file.isOpen()) {
    if (!log.failed && log.file.write(line.data(), line.size())) log.failed = true;
  } else {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
}

void logInfo(const std::string& message) { logLine("INFO", message); }
void logWarn(const std::string& message) { logLine("WARN", message); }
void logError(const std::string& message) { logLine("ERROR", message); }

void openLauncherLog(const std::filesystem::path& installDir, int retentionDays) {
  const std::filesystem::path logDirectory = installDir / kLogDirectoryName;
  if (std::error_code error = platform::createDirectories(logDirectory)) {
    logError("无法创建 Kestrun 日志目录：" + platform::pathToUtf8(logDirectory) + "；原因：" + errorMessage(error));
    return;
  }
  // Old files are deleted here and today's is written: a link in the directory's place would
  // carry both out of the installation.
  bool redirects = false;
  if (std::error_code error = platform::isRedirection(logDirectory, redirects); error || redirects) {
    logError("Kestrun 日志目录是软链接，不写入：" + platform::pathToUtf8(logDirectory));
    return;
  }
  pruneOldLogs(logDirectory, retentionDays);

  const std::string fileName = kDailyLogPrefix + formatLocal(std::time(nullptr), "%Y%m%d") + kDailyLogExtension;
  const std::filesystem::path logFile = logDirectory / fileName;
  bool opened = false;
  {
    LogSink& log = sink();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.file.isOpen()) log.file.close();
    log.failed = false;
    opened = !log.file.open(logFile, platform::FileWriter::Mode::Append);
  }
  if (opened) {
    logInfo("========== Kestrun 启动 ==========");
    logInfo("安装目录：" + platform::pathToUtf8(installDir));
  } else {
    logError("无法打开 Kestrun 日志文件：" + platform::pathToUtf8(logFile));
  }
}

void closeLauncherLog() {
  LogSink& log = sink();
  std::lock_guard<std::mutex> lock(log.mutex);
  if (log.file.isOpen()) log.file.close();
  log.failed = false;
}
