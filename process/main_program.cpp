#include "process/main_program.h"

#include <cstdio>

#include "log/launcher_log.h"
#include "platform/text.h"

namespace {

platform::ProcessHandle startMainProgram(const std::filesystem::path& programPath,
                                         const std::vector<platform::NativeString>& arguments,
                                         std::uint32_t& errorCode) {
  // The main program runs in the installation directory, its own folder.
  return platform::startProcess(programPath, arguments, programPath.parent_path(), errorCode);
}

}  // namespace

std::string formatHex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

std::string formatSystemErrorReport(std::uint32_t code) {
  return std::to_string(code) + " (" + formatHex32(code) + ")；" + platform::windowsErrorText(code);
}

std::string formatExitCodeReport(std::uint32_t exitCode) {
  return std::to_string(exitCode) + " (" + formatHex32(exitCode) + ")";
}

platform::ProcessHandle startExistingMainProgram(const std::filesystem::path& programPath,
                                                 const std::vector<platform::NativeString>& arguments) {
  const std::string pathText = platform::pathToUtf8(programPath);
  logInfo("准备启动现有主程序：" + pathText);
  std::uint32_t errorCode = 0;
  platform::ProcessHandle process = startMainProgram(programPath, arguments, errorCode);
  if (!process) {
    logError("CreateProcessW 无法启动现有 Vardel：Windows错误=" + formatSystemErrorReport(errorCode));
    return nullptr;
  }
  logInfo("现有 Vardel 进程创建成功：pid=" + std::to_string(platform::processId(*process)));
  return process;
}

StartObservation startAndObserveMainProgram(const std::filesystem::path& programPath,
                                            const std::vector<platform::NativeString>& arguments, int windowSeconds) {
  StartObservation observation;
  const std::string pathText = platform::pathToUtf8(programPath);
  logInfo("准备启动更新后的主程序：" + pathText);
  std::uint32_t errorCode = 0;
  platform::ProcessHandle process = startMainProgram(programPath, arguments, errorCode);
  if (!process) {
    logError("CreateProcessW 无法启动 Vardel：Windows错误=" + formatSystemErrorReport(errorCode) +
             "；程序路径=" + pathText);
    return observation;
  }
  logInfo("Vardel 进程创建成功：pid=" + std::to_string(platform::processId(*process)) + "；开始观察前 " +
          std::to_string(windowSeconds) + " 秒启动状态");
  return observeStart(*process, windowSeconds);
}

StartObservation observeStart(platform::ChildProcess& process, int windowSeconds) {
  StartObservation observation;
  observation.started = true;
  const std::string window = std::to_string(windowSeconds);
  std::uint32_t errorCode = 0;
  switch (platform::waitForExit(process, windowSeconds * 1000, errorCode)) {
    case platform::WaitResult::Exited: {
      std::uint32_t exitCode = 0;
      observation.exitedEarly = true;
      if (platform::readExitCode(process, exitCode, errorCode)) {
        observation.exitCode = exitCode;
        logError("Vardel 启动后 " + window + " 秒内退出：exitCode=" + formatExitCodeReport(exitCode));
      } else {
        logError("Vardel 启动后很快退出，但读取退出码失败：Windows错误=" + formatSystemErrorReport(errorCode));
      }
      break;
    }
    case platform::WaitResult::TimedOut:
      logInfo("Vardel 启动后 " + window + " 秒内保持运行，启动器结束观察");
      break;
    case platform::WaitResult::Failed:
      logWarn("观察 Vardel 启动状态失败：Windows错误=" + formatSystemErrorReport(errorCode));
      break;
  }
  return observation;
}

void releaseMainProgramHandle(platform::ProcessHandle& process) {
  if (!process) return;
  std::uint32_t errorCode = 0;
  if (platform::waitForExit(*process, 0, errorCode) == platform::WaitResult::Exited) {
    std::uint32_t exitCode = 0;
    if (platform::readExitCode(*process, exitCode, errorCode)) {
      logWarn("释放句柄前发现 Vardel 已退出：exitCode=" + formatExitCodeReport(exitCode));
    }
  }
  process.reset();
}
