#include "log/launcher_log.h"
#include "process/main_program.h"

void stopMainProgramBeforeUpdate(platform::ChildProcess* process, int timeoutMs) {
  if (!process) return;
  std::uint32_t errorCode = 0;
  if (platform::waitForExit(*process, 0, errorCode) == platform::WaitResult::Exited) {
    std::uint32_t exitCode = 0;
    platform::readExitCode(*process, exitCode, errorCode);
    logWarn("更新前发现 Vardel 已提前退出：exitCode=" + formatExitCodeReport(exitCode));
    return;
  }

  // The main program holds its files open, so it must be gone before anything is replaced.
  if (!platform::terminateProcess(*process, 0, errorCode)) {
    logError("更新前结束 Vardel 失败：Windows错误=" + formatSystemErrorReport(errorCode));
    return;
  }
  switch (platform::waitForExit(*process, timeoutMs, errorCode)) {
    case platform::WaitResult::Exited:
      logInfo("更新前已结束 Vardel，进程文件锁应已释放");
      break;
    case platform::WaitResult::TimedOut:
      logError("更新前等待 Vardel 退出超时：timeoutMs=" + std::to_string(timeoutMs));
      break;
    case platform::WaitResult::Failed:
      logError("更新前等待 Vardel 退出失败：Windows错误=" + formatSystemErrorReport(errorCode));
      break;
  }
}
