#include <system_error>

#include "launcher/installation_lock.h"
#include "launcher/run_phases.h"
#include "log/launcher_log.h"
#include "platform/text.h"
#include "process/main_program.h"
#include "staging/digest_record.h"
#include "staging/staging_apply.h"
#include "ui/progress_window.h"
#include "ui/ui_text.h"
#include "ui/warning_message.h"
#include "update/health_report.h"
#include "update/update_checker.h"

namespace {

constexpr int kStopTimeoutMs = 15000;

}  // namespace

void runUpdatePhase(RunContext& context, UpdateChecker& checker, HealthReport& report) {
  report.result = "failed";
  report.step = "download";
  logInfo("检测到更新，准备结束旧版 Vardel 并下载文件");
  // Until the program runs again, a launcher that gave up waiting for this run leaves
  // starting it to this run.
  platform::FileLock restartLock;
  holdWhileProgramIsStopped(context.installDir, restartLock);
  if (context.mainProgramProcess) {
    // The main program holds its files open, so it must be gone before anything is replaced.
    stopMainProgramBeforeUpdate(context.mainProgramProcess.get(), kStopTimeoutMs);
    releaseMainProgramHandle(context.mainProgramProcess);
  }

  std::string downloadError;
  const ProgressTask updateTask = [&checker, &downloadError](ui::ProgressController& controller) {
    checker.cancelCheck = [&controller] { return controller.cancelRequested(); };
    return checker.downloadPending(
        [&controller](int current, int total) { controller.setProgress(current, total); }, downloadError);
  };
  bool downloaded = false;
  try {
    downloaded = runProgressWindow(context.chinese, context.mainProgramPresent, updateTask);
  } catch (const std::system_error& error) {
    // No worker thread could be started: nothing was downloaded, so this run ends like a
    // failed download instead of ending the process.
    downloadError = std::string("无法启动下载线程：") + error.what();
  }
  // The worker has ended: the cancel check must not outlive the window's shared state.
  checker.cancelCheck = nullptr;

  if (downloaded) {
    logInfo("更新文件下载完成，开始落地");
    const int applied =
        applyStaging(context.stagingDir, context.installDir, checker.pending, checker.lockedPatterns,
                     checker.forbiddenPatterns);
    logInfo("applyStaging 返回：成功落地=" + std::to_string(applied));
    const bool complete = applied >= 0 && static_cast<std::size_t>(applied) >= checker.pending.size();
    // The next update picks its patches from this record instead of reading every file.
    if (std::string recordError; applied > 0 && !recordInstalledDigests(context.installDir, checker.pending, recordError)) {
      logWarn("无法写入已安装文件摘要记录：" + recordError);
    }
    std::vector<platform::NativeString> startArguments = context.forwardedArgs;
    if (context.mainProgramPresent) startArguments.push_back(platform::fromUtf8("--updated"));
    const StartObservation started = startAndObserveMainProgram(context.mainProgramPath, startArguments);
    // A program that cannot even be started after the update counts as a failed update.
    report.result = complete && started.started ? "updated" : "failed";
    report.step = complete ? "start" : "apply";
    report.exitedEarly = started.exitedEarly;
    report.exitCode = started.exitCode;
    return;
  }

  if (downloadError == kCancelledText) {
    logWarn("用户取消更新下载");
    // The user's choice, not a fault of the release: kept apart from the failed updates.
    report.result = "cancelled";
  } else {
    logError("更新下载失败：" + (downloadError.empty() ? std::string("未提供错误详情") : downloadError));
  }
  if (context.mainProgramPresent) {
    startAndObserveMainProgram(context.mainProgramPath, context.forwardedArgs);
  } else {
    showWarningMessage(context.chinese, uiText(context.chinese, UiText::ApplicationIncomplete));
  }
}
