#include <chrono>
#include <system_error>

#include "launcher/installation_lock.h"
#include "launcher/run_phases.h"
#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "process/main_program.h"
#include "ui/ui_text.h"
#include "ui/warning_message.h"

namespace {

constexpr int kLogRetentionDays = 30;

// Whether Vardel.exe is there, following links; any kind of object counts. A status that
// cannot be read for another reason counts as present: starting it then fails visibly,
// whereas "absent" would treat a working installation as a bare machine.
bool mainProgramExists(const std::filesystem::path& mainProgramPath) {
  platform::ItemKind kind = platform::ItemKind::Missing;
  if (std::error_code error = platform::queryItemKind(mainProgramPath, true, kind)) {
    logWarn("无法读取 Vardel.exe 状态，按存在处理：" +
            platform::windowsErrorText(static_cast<std::uint32_t>(error.value())));
    return true;
  }
  return kind != platform::ItemKind::Missing;
}

}  // namespace

int runLauncher(int argc, char** argv, const LauncherSettings& settings) {
  RunContext context;
  context.chinese = isChineseUi();
  context.forwardedArgs = platform::launcherArguments(argc, argv);
  platform::registerUrlProtocols();
  context.installDir = findInstallDir();
  openLauncherLog(context.installDir, kLogRetentionDays);
  logInfo("运行平台：" + platform::describePlatform());

  // Held to the end of the run: nothing the installation could notice happens before it.
  // Without it the program is started as it is and nothing is updated.
  platform::FileLock installationLock;
  const InstallationLock lockState =
      lockInstallation(context.installDir, installationLock, std::chrono::seconds(settings.lockWaitSeconds));
  const bool locked = lockState == InstallationLock::Held;

  context.mainProgramPath = context.installDir / kMainProgramFileName;
  context.stagingDir = context.installDir / kStagingDirectoryName;
  context.settings = settings;
  // An update or a rollback that a killed run left half done is finished before anything runs.
  if (locked) settleKeptUpdate(context);

  context.mainProgramPresent = mainProgramExists(context.mainProgramPath);
  logInfo(std::string("启动时 Vardel.exe 状态：") + (context.mainProgramPresent ? "存在" : "不存在（首次引导）"));

  // A run still updating the installation after the wait starts the program itself, once its
  // files are in place; starting it now would hold them open while they are replaced.
  const bool leftToOtherRun =
      lockState == InstallationLock::WaitRanOut && anotherRunWillStartTheProgram(context.installDir);

  // Start the installed program at once so that the user never waits for the update check.
  if (context.mainProgramPresent && !leftToOtherRun) {
    context.mainProgramProcess = startExistingMainProgram(context.mainProgramPath, context.forwardedArgs);
    if (!context.mainProgramProcess) showWarningMessage(context.chinese, uiText(context.chinese, UiText::StartFailed));
    // A release on probation is watched before the check, so that a failed start is taken
    // back and the check then knows the release is refused.
    if (locked) watchProbationStart(context);
  }

  if (leftToOtherRun) {
    logInfo("另一个 Kestrun 正在更新 Vardel，更新完成后由其启动，本次不启动");
  } else if (!locked) {
    if (context.mainProgramPresent) {
      logInfo("未取得安装目录锁，跳过更新检查，现有 Vardel 继续运行");
    } else {
      logError("首次引导失败：未取得安装目录锁");
    }
  } else if (!context.settings.baseUrl.empty()) {
    runServerCheckPhase(context);
  } else if (context.mainProgramPresent) {
    logWarn("未配置更新服务器地址，跳过更新检查，现有 Vardel 继续运行");
  } else {
    showWarningMessage(context.chinese, uiText(context.chinese, UiText::ServerAddressMissing));
    logError("首次引导失败：未配置更新服务器地址");
  }

  releaseMainProgramHandle(context.mainProgramProcess);
  logInfo("Kestrun 本次运行结束");
  closeLauncherLog();
  return 0;
}
