// A first installation of one 256 MiB file that does not compress, over a link that drops once
// when 90 % of it has passed: the bytes the link carried to the launcher, against the file's
// size. The launcher goes on from the bytes it staged with a range request; a transfer that
// started again from byte 0 would move 1.9 times the file.
#include <cstdio>
#include <fstream>
#include <string>

#include "bench/bench_result.h"
#include "bench/child_process.h"
#include "bench/link_proxy.h"
#include "bench/nginx_server.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kFileBytes = std::uint64_t{256} << 20;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kTimeoutSeconds = 600;
const char* const kResumeBytes = "dropped link at 90 %: bytes moved, MiB (baseline: the file)";

}  // namespace

Figures runResume(const Workspace& workspace) {
  const auto failed = [](const std::string& why) {
    return Figures{failedFigure(kResumeBytes, Goal::RatioAtMost, 1.15, why)};
  };
  const std::string path = "resume/large.bin";
  if (!writeRandomFile(workspace.servedRoot / "bench/files" / path, kFileBytes, 26)) return failed("cannot write " + path);
  const fs::path work = workspace.work / "resume";
  fs::remove_all(work);
  fs::create_directories(work);
  std::ofstream(work / "list.txt") << kFileBytes << ' ' << path << '\n';

  // Loopback speed: only the bytes are measured here.
  LinkProfile profile{std::chrono::microseconds(0), 8e9, kFileBytes / 10 * 9};
  LinkProxy link;
  std::string error;
  if (!link.start(workspace.server->port(), profile, std::chrono::seconds(static_cast<long>(kTimeoutSeconds) + 10), error)) {
    return failed(error);
  }
  const std::string baseUrl = "http://127.0.0.1:" + std::to_string(link.port());
  const fs::path log = work / "output.log";
  const ChildRun run = runChild({KESTRUN_BENCH_DOWNLOAD, "listed", baseUrl, "bench", (work / "install").string(),
                                 (work / "list.txt").string()},
                                environmentWith({}, {}), log, kTimeoutSeconds);
  const std::uint64_t moved = link.bytesToClient();
  const int connections = link.connections();
  link.stop();
  if (run.exitCode != 0) return failed("the launcher " + describeFailure(run, log));
  std::error_code ec;
  if (fs::file_size(work / "install/update_staging" / path, ec) != kFileBytes) return failed("the file is incomplete");
  std::printf("dropped link: %d connections, %.1f MiB moved for a file of %.1f MiB, %.1f s\n", connections,
              moved / kMiB, kFileBytes / kMiB, run.seconds);
  return {measuredFigure(kResumeBytes, moved / kMiB, kFileBytes / kMiB, Goal::RatioAtMost, 1.15)};
}

}  // namespace bench
