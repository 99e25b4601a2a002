#include "launcher/installation_lock.h"

#include <string>

#include "log/launcher_log.h"
#include "platform/text.h"
#include "update/launcher_files.h"

namespace {

void logLockFailure(const std::filesystem::path& file, const std::error_code& error) {
  logWarn("无法锁定安装目录，不加锁继续运行：" + platform::pathToUtf8(file) + "；原因：" +
          platform::errorCodeText(error));
}

}  // namespace

void lockInstallation(const std::filesystem::path& installDir, platform::FileLock& lock) {
  const std::filesystem::path file = installDir / kInstallationLockFileName;
  bool acquired = false;
  if (const std::error_code error = lock.tryLock(file, acquired)) {
    logLockFailure(file, error);
    return;
  }
  if (acquired) return;
  logInfo("另一个 Kestrun 正在运行，等待其结束后继续");
  if (const std::error_code error = lock.lock()) logLockFailure(file, error);
}
