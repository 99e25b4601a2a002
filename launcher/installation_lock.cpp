#include "launcher/installation_lock.h"

#include <string>
#include <thread>

#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "platform/text.h"

namespace {

// How often a waiting launcher asks again: a wait of a few seconds stays a few seconds.
constexpr auto kPollInterval = std::chrono::milliseconds(100);

InstallationLock lockFailed(const std::filesystem::path& file, const std::error_code& error) {
  logWarn("无法锁定安装目录，本次不更新：" + platform::pathToUtf8(file) + "；原因：" + platform::errorCodeText(error));
  return InstallationLock::Unavailable;
}

}  // namespace

InstallationLock lockInstallation(const std::filesystem::path& installDir, platform::FileLock& lock,
                                  std::chrono::seconds wait) {
  const std::filesystem::path file = installDir / kInstallationLockFileName;
  bool acquired = false;
  if (const std::error_code error = lock.tryLock(file, acquired)) return lockFailed(file, error);
  if (acquired) return InstallationLock::Held;
  logInfo("另一个 Kestrun 正在运行，等待其结束后继续");
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollInterval);
    if (const std::error_code error = lock.tryAgain(acquired)) return lockFailed(file, error);
    if (acquired) return InstallationLock::Held;
  }
  logWarn("等待另一个 Kestrun 结束超时（" + std::to_string(wait.count()) + " 秒），本次不更新");
  return InstallationLock::WaitRanOut;
}

void holdWhileProgramIsStopped(const std::filesystem::path& installDir, platform::FileLock& lock) {
  const std::filesystem::path file = installDir / kProgramRestartLockFileName;
  bool acquired = false;
  std::error_code error = lock.tryLock(file, acquired);
  // It is taken under the installation lock; only a launcher whose wait ran out looks at it,
  // holding it for a moment: worth a few more tries before going on without it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!error && !acquired && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollInterval);
    error = lock.tryAgain(acquired);
  }
  if (error || !acquired) {
    logWarn("无法锁定 " + platform::pathToUtf8(file) + "；原因：" +
            (error ? platform::errorCodeText(error) : std::string("已被占用")));
  }
}

bool anotherRunWillStartTheProgram(const std::filesystem::path& installDir) {
  platform::FileLock probe;
  bool acquired = false;
  return !probe.tryLock(installDir / kProgramRestartLockFileName, acquired) && !acquired;
}
