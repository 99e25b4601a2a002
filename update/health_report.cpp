#include "update/health_report.h"

#include <cstddef>

#include "update/http_transfer.h"
#include "wire/server_endpoints.h"
#include "update/update_checker.h"

namespace {

// A report is worth no more than this to the run, which still holds the installation's lock:
// a server that does not connect, or goes quiet, within 2 seconds is left alone, and no
// answer, however it trickles in, keeps the run longer than 5 seconds.
constexpr int kReportStallSeconds = 2;
constexpr long kReportTimeoutMilliseconds = 5000;
// An answer is a status line and a few headers; a server that sends more is not listened to.
constexpr std::size_t kReportHeaderBytes = 16 * 1024;
constexpr std::size_t kReportBodyBytes = 1024;

}  // namespace

std::string healthReportUrl(const std::string& baseUrl, const std::string& platform, const HealthReport& report) {
  std::string url = baseUrl + kHealthEndpoint + "?platform=" + platform + "&release=" + report.release +
                    "&result=" + report.result;
  if (report.result == "failed") url += "&step=" + report.step;
  if (report.result == "rolled_back") url += "&exit_code=" + std::to_string(report.exitCode);
  if (report.result == "updated") {
    url += report.exitedEarly ? "&early_exit=1&exit_code=" + std::to_string(report.exitCode) : "&early_exit=0";
  }
  return url;
}

void sendHealthReport(UpdateChecker& checker, const HealthReport& report) {
  if (report.release.empty()) return;
  TransferContext context = checker.transferContext();
  context.connectTimeoutSeconds = kReportStallSeconds;
  context.stallTimeoutSeconds = kReportStallSeconds;
  context.requestTimeoutMilliseconds = kReportTimeoutMilliseconds;
  // A redirect would start the clock again at another server.
  context.followRedirects = false;
  context.maxHeaderBytes = kReportHeaderBytes;
  context.cancelCheck = nullptr;
  std::string body;
  Failure ignored;
  httpGetToString(context, healthReportUrl(checker.baseUrl, checker.platform, report), body, ignored, kReportBodyBytes);
}
