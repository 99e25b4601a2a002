#include <cstdio>

#include "launcher/run_phases.h"
#include "platform/filesystem.h"
#include "staging/rollback_journal.h"
#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "ui/ui_text.h"
#include "ui/warning_message.h"
#include "update/health_report.h"
#include "update/http_library.h"
#include "update/update_checker.h"

void runServerCheckPhase(RunContext& context) {
  logInfo("已取得更新服务器配置，开始检查更新");
  // Made before the client, so that it is torn down after the client's last connection.
  const HttpLibrary httpLibrary;
  if (!httpLibrary.ready()) logError("libcurl 全局初始化失败：" + httpLibrary.errorText());

  {
    UpdateChecker checker(context.settings.baseUrl, "windows", context.installDir, context.stagingDir);
    checker.connectTimeoutSeconds = kLauncherConnectTimeoutSeconds;
    checker.lockedPatterns = lockedFilePatterns();
    checker.forbiddenPatterns = {};
    checker.manifestPublicKey = context.settings.manifestPublicKey;
    checker.stallTimeoutSeconds = context.settings.stallTimeoutSeconds;
    checker.parallelTransfers = context.settings.parallelTransfers;
    checker.decoderWindowBudget = context.settings.decoderWindowBudget;
    checker.bufferedObjectBytes = context.settings.bufferedObjectBytes;

    std::string checkError;
    const bool checked = checker.checkForUpdates(checkError);
    if (checked) {
      logInfo("更新检查完成：待更新文件=" + std::to_string(checker.pending.size()));
    } else if (!checkError.empty()) {
      std::fprintf(stderr, "Kestrun update check failed: %s\n", checkError.c_str());
      std::fflush(stderr);
      logWarn("更新检查失败：" + checkError);
    }

    HealthReport report;
    report.release = checker.healthRelease;
    report.result = checked ? "up_to_date" : "failed";
    report.step = "check";
    // A release taken back is not installed again until the manifest names another one.
    if (checked && checker.autoRollback.present && context.mainProgramPresent &&
        isRefusedRelease(context.installDir, checker.autoRollback.release)) {
      logInfo("版本 " + checker.autoRollback.release + " 已在本机回滚，不再安装，等待新的版本");
      checker.pending.clear();
      report.release.clear();
      platform::removeTree(context.stagingDir);  // what an earlier run fetched of it
    }
    if (checked && !checker.pending.empty()) {
      runUpdatePhase(context, checker, report);
    } else if (context.mainProgramPresent) {
      if (checked) logInfo("本次没有文件需要更新，现有 Vardel 继续运行");
    } else {
      showWarningMessage(context.chinese,
                         uiText(context.chinese, checked ? UiText::NoApplicationFiles : UiText::ServerUnreachable));
    }
    // A run that took a release back, before the check or after its update, reports that.
    if (!context.rolledBackRelease.empty() && !checker.healthRelease.empty()) {
      report.release = context.rolledBackRelease;
      report.result = "rolled_back";
      report.exitCode = context.rolledBackExitCode;
    }
    // Last, once the user has what the run was for.
    sendHealthReport(checker, report);
  }
}
