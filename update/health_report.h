#pragma once

#include <cstdint>
#include <string>

class UpdateChecker;

// What one run tells a site that asks for health reports (a manifest element
// {"health":{"release":ID}}): the release it checked against and how the run went. Nothing
// that identifies the installation or the user, and no paths.
struct HealthReport {
  std::string release;  // the release checked against; empty: the site does not ask
  // "up_to_date", "updated", "failed", "cancelled" (by the user) or "rolled_back" (the release
  // named was taken back after failed starts)
  std::string result;
  std::string step;     // with "failed": "check", "download", "apply" or "start"
  bool exitedEarly = false;    // with "updated": the program ended within its first 5 seconds
  std::uint32_t exitCode = 0;  // its exit code then; with "rolled_back": of the last failed start
};

// base + "/gis/update/health?platform=P&release=ID&result=R", then "&step=S" for a failure,
// or "&early_exit=0" / "&early_exit=1&exit_code=N" after an update, or "&exit_code=N" after a
// rollback.
std::string healthReportUrl(const std::string& baseUrl, const std::string& platform, const HealthReport& report);

// Sends the report once, when the site asks: 5 seconds at most, no redirect, no retry, and
// nothing said about a report that could not be sent. It costs the run nothing else.
void sendHealthReport(UpdateChecker& checker, const HealthReport& report);
