// The probation of a release that may be taken back: its first starts are watched, and after
// the failed starts its manifest allows, the files it replaced are put back.

#include "launcher/run_phases.h"
#include "log/launcher_log.h"
#include "platform/filesystem.h"
#include "process/main_program.h"
#include "staging/rollback_journal.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;

std::int64_t nowSeconds() { return platform::fileTimeToUnixSeconds(platform::currentFileTime()); }

// Takes the release back, noting it for the run's health report when that finished.
void rollBack(RunContext& context, ProbationRecord& record) {
  if (!rollBackRelease(context.installDir, record, true)) return;
  context.rolledBackRelease = record.settings.release;
  context.rolledBackExitCode = record.lastExitCode;
}

void rollBackAndStartPrevious(RunContext& context, ProbationRecord& record) {
  logWarn("版本 " + record.settings.release + " 启动失败 " + std::to_string(record.failures) + " 次，开始回滚到之前的版本");
  context.mainProgramProcess.reset();
  // A rollback that could not finish is finished by the next run; the program starts anyway,
  // so that the user is never left without one.
  rollBack(context, record);
  context.mainProgramProcess = startExistingMainProgram(context.mainProgramPath, context.forwardedArgs);
}

}  // namespace

void settleKeptUpdate(RunContext& context) {
  ProbationRecord record;
  if (!readProbation(context.installDir, record)) {
    // What a killed clean-up left: only files to remove.
    if (hasLeftoverFolder(context.installDir)) endProbation(context.installDir);
    return;
  }
  switch (record.stage) {
    case ProbationRecord::Stage::Applying:
      logWarn("上次运行在更新落地途中中断，恢复之前的版本：" + record.settings.release);
      rollBackRelease(context.installDir, record, false);
      return;
    case ProbationRecord::Stage::RollingBack:
      logWarn("上次运行在回滚途中中断，继续回滚版本：" + record.settings.release);
      rollBack(context, record);
      return;
    case ProbationRecord::Stage::Probation:
      // A time ahead of the clock (the clock was put back) ends the probation as well.
      if (nowSeconds() - record.since >= kProbationDays * kSecondsPerDay || record.since > nowSeconds() + kSecondsPerDay) {
        logInfo("版本 " + record.settings.release + " 试用期已满 " + std::to_string(kProbationDays) +
                " 天，删除保留的文件");
        endProbation(context.installDir);
      }
      return;
  }
}

void watchProbationStart(RunContext& context) {
  ProbationRecord record;
  if (!readProbation(context.installDir, record) || record.stage != ProbationRecord::Stage::Probation) return;
  logInfo("版本 " + record.settings.release + " 试用期：观察第 " + std::to_string(record.starts + 1) + " 次启动");
  // A program that cannot even be started (a damaged executable) has failed its start.
  countProbationStart(context, context.mainProgramProcess
                                   ? observeStart(*context.mainProgramProcess, record.settings.windowSeconds)
                                   : StartObservation());
}

void countProbationStart(RunContext& context, const StartObservation& observation) {
  ProbationRecord record;
  if (!readProbation(context.installDir, record) || record.stage != ProbationRecord::Stage::Probation) return;
  ++record.starts;
  if (observation.failed()) {
    ++record.failures;
    record.lastExitCode = observation.exitCode;
  }
  const AutoRollback& settings = record.settings;
  logInfo("版本 " + settings.release + " 试用期：启动 " + std::to_string(record.starts) + "/" +
          std::to_string(settings.probationStarts) + " 次，失败 " + std::to_string(record.failures) + "/" +
          std::to_string(settings.failedStarts) + " 次");
  if (record.failures >= settings.failedStarts) {
    rollBackAndStartPrevious(context, record);
  } else if (record.starts >= settings.probationStarts) {
    logInfo("版本 " + settings.release + " 试用期结束，删除保留的文件");
    endProbation(context.installDir);
  } else if (std::string errorText; !writeProbation(context.installDir, record, errorText)) {
    logWarn("无法记录试用期的启动：" + errorText);
  }
}
