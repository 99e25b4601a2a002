#include <memory>
#include <system_error>

#include "launcher/installation_lock.h"
#include "launcher/run_phases.h"
#include "log/launcher_log.h"
#include "platform/text.h"
#include "process/main_program.h"
#include "staging/digest_record.h"
#include "staging/download_pending.h"
#include "staging/installed_paths_record.h"
#include "staging/rollback_journal.h"
#include "staging/staging_apply.h"
#include "ui/progress_window.h"
#include "ui/ui_text.h"
#include "ui/warning_message.h"
#include "update/health_report.h"
#include "update/update_checker.h"

namespace {

constexpr int kStopTimeoutMs = 15000;

// A journal of what the apply replaces, when the release may be taken back and there is a
// previous release to go back to.
std::unique_ptr<RollbackJournal> startJournal(const RunContext& context, const AutoRollback& settings) {
  if (!settings.present || !context.mainProgramPresent) return nullptr;
  auto journal = std::make_unique<RollbackJournal>();
  if (std::string errorText; !journal->begin(context.installDir, settings, errorText)) {
    logWarn("无法保留被替换的文件，本次更新不能自动回滚：" + errorText);
    return nullptr;
  }
  return journal;
}

// What the apply keeps: a journal of what it replaces, when the release may be taken back and
// there is a previous release to go back to; nothing new for a repair of the release on
// probation, whose journal still leads back to the release before it; no apply at all while
// what an earlier probation kept cannot be cleared, since it would put back the wrong files.
struct Keeping {
  std::unique_ptr<RollbackJournal> journal;
  bool sameProbation = false;
  bool blocked = false;
};
Keeping prepareKeeping(const RunContext& context, const AutoRollback& settings) {
  Keeping keeping;
  ProbationRecord record;
  if (settings.present && readProbation(context.installDir, record) &&
      record.stage == ProbationRecord::Stage::Probation && record.settings.release == settings.release) {
    logInfo("版本 " + settings.release + " 仍在试用期：只修复其文件，保留的文件不变");
    keeping.sameProbation = true;
    return keeping;
  }
  if (hasLeftoverFolder(context.installDir)) {
    logInfo("新的更新开始，结束上一版本的试用期并删除保留的文件");
    keeping.blocked = !endProbation(context.installDir);
    if (keeping.blocked) return keeping;
  }
  keeping.journal = startJournal(context, settings);
  return keeping;
}

// After the apply: a whole apply starts the probation; one that did not finish is undone, so
// that the installation is never a mix of two releases. False when it was undone.
bool finishJournal(const RunContext& context, RollbackJournal& journal, bool complete) {
  const std::string release = journal.release();
  if (!complete) {
    logWarn("更新落地不完整，恢复之前的版本");
    journal.close();
    ProbationRecord record;
    if (readProbation(context.installDir, record)) rollBackRelease(context.installDir, record, false);
    return false;
  }
  logInfo("已保留被替换的文件以备回滚：" + std::to_string(journal.keptItems()) + " 项，" +
          std::to_string(journal.keptBytes()) + " 字节；新增 " + std::to_string(journal.addedItems()) + " 项");
  if (!journal.startProbation()) {
    // Left as it is, the record would undo this whole update at the next run.
    endProbation(context.installDir);
  } else {
    const AutoRollback& settings = journal.settings();
    logInfo("版本 " + release + " 进入试用期：观察前 " + std::to_string(settings.probationStarts) + " 次启动（或 " +
            std::to_string(kProbationDays) + " 天），每次 " + std::to_string(settings.windowSeconds) + " 秒，失败 " +
            std::to_string(settings.failedStarts) + " 次即回滚");
  }
  return true;
}

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
    return downloadPending(
        checker, [&controller](int current, int total) { controller.setProgress(current, total); }, downloadError);
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
    const Keeping keeping = prepareKeeping(context, checker.autoRollback);
    if (keeping.blocked) {
      logError("无法删除上一版本保留的文件，本次不落地更新");
      report.step = "apply";
      startAndObserveMainProgram(context.mainProgramPath, context.forwardedArgs);
      return;
    }
    // The uninstaller removes what this record names, including what older releases put here.
    // It says what the apply is about to put in place, so a run ended during or after the
    // apply leaves nothing unrecorded.
    std::string pathsError;
    const InstalledPathsWrite paths = checker.pending.empty()
                                          ? InstalledPathsWrite::Written
                                          : recordInstalledPaths(context.installDir, checker.pending, pathsError);
    if (paths == InstalledPathsWrite::OldUnreadable) {
      logWarn("已安装路径记录无法读取，保持原样，下次落地时再写：" + pathsError);
    } else if (paths == InstalledPathsWrite::Failed) {
      logWarn("无法写入已安装路径记录：" + pathsError);
    }
    const std::unique_ptr<RollbackJournal>& journal = keeping.journal;
    const bool watched = journal || keeping.sameProbation;
    const int applied =
        applyStaging(context.stagingDir, context.installDir, checker.pending, checker.lockedPatterns,
                     checker.forbiddenPatterns, journal.get());
    logInfo("applyStaging 返回：成功落地=" + std::to_string(applied));
    const bool complete = applied >= 0 && static_cast<std::size_t>(applied) >= checker.pending.size();
    // The next update picks its patches from this record instead of reading every file.
    if (std::string recordError; applied > 0 && !recordInstalledDigests(context.installDir, checker.pending, recordError)) {
      logWarn("无法写入已安装文件摘要记录：" + recordError);
    }
    if (journal && !finishJournal(context, *journal, complete)) {
      // The apply was undone: the previous release starts as before the update.
      report.step = "apply";
      startAndObserveMainProgram(context.mainProgramPath, context.forwardedArgs);
      return;
    }
    std::vector<platform::NativeString> startArguments = context.forwardedArgs;
    if (context.mainProgramPresent) startArguments.push_back(platform::fromUtf8("--updated"));
    const StartObservation started =
        startAndObserveMainProgram(context.mainProgramPath, startArguments, watched ? checker.autoRollback.windowSeconds : kStartWatchSeconds);
    // A program that cannot even be started after the update counts as a failed update.
    report.result = complete && started.started ? "updated" : "failed";
    report.step = complete ? "start" : "apply";
    report.exitedEarly = started.exitedEarly;
    report.exitCode = started.exitCode;
    if (watched) countProbationStart(context, started);
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
