#include "update/health_report.h"

#include "update/server_endpoints.h"
#include "update/update_checker.h"

namespace {

// A report is worth no more than this to the run: a server that does not answer within it
// is left alone.
constexpr int kReportTimeoutSeconds = 2;

}  // namespace

std::string healthReportUrl(const std::string& baseUrl, const std::string& platform, const HealthReport& report) {
  std::string url = baseUrl + kHealthEndpoint + "?platform=" + platform + "&release=" + report.release +
                    "&result=" + report.result;
  if (report.result == "failed") url += "&step=" + report.step;
  if (report.result == "updated") {
    url += report.exitedEarly ? "&early_exit=1&exit_code=" + std::to_string(report.exitCode) : "&early_exit=0";
  }
  return url;
}

void sendHealthReport(UpdateChecker& checker, const HealthReport& report) {
  if (report.release.empty()) return;
  checker.connectTimeoutSeconds = kReportTimeoutSeconds;
  checker.stallTimeoutSeconds = kReportTimeoutSeconds;
  checker.cancelCheck = nullptr;
  std::string body;
  std::string ignored;
  checker.httpGetToString(healthReportUrl(checker.baseUrl, checker.platform, report), body, ignored, 1024);
}
