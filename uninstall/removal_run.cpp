#include "uninstall/removal_run.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "names/installation_layout.h"
#include "platform/environment.h"
#include "platform/file_lock.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/text.h"
#include "process/main_program.h"
#include "staging/installed_paths_record.h"
#include "uninstall/installation_removal.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStopTimeoutMs = 10000;
constexpr auto kLockPollInterval = std::chrono::milliseconds(100);

bool isPlainFile(const fs::path& file) {
  platform::ItemKind kind = platform::ItemKind::Missing;
  return !platform::queryItemKind(file, false, kind) && kind == platform::ItemKind::Regular;
}

// The launcher, the program or a record of the launcher at the top: anything else is no
// installation, and a wrong folder given to the uninstaller must lose nothing.
bool isInstallation(const fs::path& dir) {
  for (const char* name : {kLauncherFileName, "Kestrun.exe", kMainProgramFileName, kInstalledPathsRecordFileName,
                           kDigestRecordFileName, kUpdateReportFileName}) {
    if (isPlainFile(dir / name)) return true;
  }
  return false;
}

// The lock every launcher run takes: while it is held here, no launcher updates or repairs.
bool lockInstallation(const RemovalSettings& settings, platform::FileLock& lock, std::ostream& out) {
  const fs::path file = settings.installDir / kInstallationLockFileName;
  bool acquired = false;
  std::error_code error = lock.tryLock(file, acquired);
  const auto deadline = std::chrono::steady_clock::now() + settings.lockWait;
  while (!error && !acquired && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kLockPollInterval);
    error = lock.tryAgain(acquired);
  }
  if (error) {
    out << "无法锁定安装目录，未做任何改动：" << platform::pathToUtf8(file) << "；原因：" << platform::errorCodeText(error)
        << "\n";
  } else if (!acquired) {
    out << "等待另一个 Kestrun 结束超时（" << settings.lockWait.count() << " 秒），未做任何改动\n";
  }
  return !error && acquired;
}

// Every running copy of the installation's program: its files are held open while it runs.
bool stopMainProgram(const fs::path& installDir, std::ostream& out) {
  bool stopped = true;
  for (platform::ProcessHandle& process : platform::openProcessesRunning(installDir / kMainProgramFileName)) {
    const std::string id = std::to_string(platform::processId(*process));
    std::uint32_t errorCode = 0;
    platform::WaitResult result = platform::WaitResult::Failed;
    if (platform::terminateProcess(*process, 1, errorCode)) {
      result = platform::waitForExit(*process, kStopTimeoutMs, errorCode);
    }
    if (result == platform::WaitResult::Exited) {
      out << "已结束正在运行的 Vardel：进程 " << id << "\n";
      continue;
    }
    stopped = false;
    out << "无法结束正在运行的 Vardel：进程 " << id << "；"
        << (result == platform::WaitResult::TimedOut ? "等待 " + std::to_string(kStopTimeoutMs / 1000) + " 秒后仍在运行"
                                                      : "Windows错误=" + formatSystemErrorReport(errorCode))
        << "\n";
  }
  return stopped;
}

}  // namespace

RemovalExit removeInstallation(const RemovalSettings& settings, std::ostream& out) {
  const fs::path& dir = settings.installDir;
  if (!isInstallation(dir)) {
    out << "不是 Kestrun 安装目录，未做任何改动：" << platform::pathToUtf8(dir) << "\n";
    return RemovalExit::NotInstallation;
  }
  auto lock = std::make_unique<platform::FileLock>();
  if (!lockInstallation(settings, *lock, out)) return RemovalExit::LockUnavailable;
  if (!stopMainProgram(dir, out)) {
    out << "Vardel 仍在运行，未删除任何文件\n";
    return RemovalExit::ProgramRunning;
  }
  out << "已移除本安装的 URL 协议注册：" << platform::unregisterUrlProtocols(dir / kLauncherFileName) << " 项\n";

  // Point of no return: from here on the installation's files go.
  InstallationRemoval removal(dir, out);
  removal.removeRecordedPaths(readInstalledPaths(dir));
  removal.removeOwnItems();
  removal.removeEmptyFolders();
  // The lock file goes last, once released: Windows removes no file that is held open.
  lock.reset();
  removal.removeTopItem(kInstallationLockFileName);

  out << "已删除 " << removal.removed() << " 项，留下 " << removal.countLeftItems() << " 项\n";
  if (removal.failed() == 0) return RemovalExit::Removed;
  out << "有 " << removal.failed() << " 项未能删除\n";
  return RemovalExit::SomeLeft;
}
