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

// The launcher, the program or the record of installed paths at the top: anything else is no
// installation (a report or another record alone may be a copy), and a wrong folder given to
// the uninstaller must lose nothing.
bool isInstallation(const fs::path& dir) {
  for (const char* name : {kLauncherFileName, "Kestrun.exe", kMainProgramFileName, kInstalledPathsRecordFileName}) {
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

// Every running copy of one of the installation's programs (`shown` in the lines): the main
// program holds its files open; a launcher waits for the lock, would take it once this run
// ends and put the installation back.
bool stopRunning(const fs::path& executable, const char* shown, std::ostream& out) {
  bool stopped = true;
  for (platform::ProcessHandle& process : platform::openProcessesRunning(executable)) {
    const std::string id = std::to_string(platform::processId(*process));
    std::uint32_t errorCode = 0;
    platform::WaitResult result = platform::WaitResult::Failed;
    if (platform::terminateProcess(*process, 1, errorCode)) {
      result = platform::waitForExit(*process, kStopTimeoutMs, errorCode);
    }
    if (result == platform::WaitResult::Exited) {
      out << "已结束正在运行的 " << shown << "：进程 " << id << "\n";
      continue;
    }
    stopped = false;
    out << "无法结束正在运行的 " << shown << "：进程 " << id << "；"
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
  // Under the lock, before anything is stopped: a record that is there but cannot be read
  // would leave the installation's files unknown for good once the rest were gone.
  std::vector<std::string> recorded;
  if (readInstalledPaths(dir, recorded) == InstalledPathsRead::Unreadable) {
    out << "无法读取已安装路径记录，未删除任何文件：" << platform::pathToUtf8(dir / kInstalledPathsRecordFileName) << "\n";
    return RemovalExit::SomeLeft;
  }
  // The launchers first: none of them may start the program again once it is stopped. The
  // one holding the lock is this run, so each of them is one that waits for it or went on
  // without it.
  for (const auto& [name, shown] :
       {std::pair{kLauncherFileName, "Kestrun"}, std::pair{kMainProgramFileName, "Vardel"}}) {
    if (!stopRunning(dir / name, shown, out)) {
      out << shown << " 仍在运行，未删除任何文件\n";
      return RemovalExit::ProgramRunning;
    }
  }
  out << "已移除本安装的 URL 协议注册：" << platform::unregisterUrlProtocols(dir / kLauncherFileName) << " 项\n";

  // Point of no return: from here on the installation's files go.
  InstallationRemoval removal(dir, out);
  removal.removeRecordedPaths(recorded);
  removal.removeOwnItems();
  removal.removeEmptyFolders();
  removal.settleRecord();
  // The lock file goes last, while still held (it is opened with delete sharing on Windows):
  // released first, it could be taken by a launcher that had waited for it just before it goes.
  removal.removeTopItem(kInstallationLockFileName);
  lock.reset();

  out << "已删除 " << removal.removed() << " 项，留下 " << removal.countLeftItems() << " 项\n";
  if (removal.failed() == 0) return RemovalExit::Removed;
  out << "有 " << removal.failed() << " 项未能删除\n";
  return RemovalExit::SomeLeft;
}
