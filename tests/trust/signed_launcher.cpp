// The launcher with its update server and manifest key given by the test, through
// KESTRUN_TEST_BASE_URL and KESTRUN_TEST_MANIFEST_KEY, so that one build can run against a
// signed release of the test's own making.
#include <cstdlib>

#include "launcher/run_phases.h"

int main(int argc, char** argv) {
  const char* baseUrl = std::getenv("KESTRUN_TEST_BASE_URL");
  const char* key = std::getenv("KESTRUN_TEST_MANIFEST_KEY");
  return runLauncher(argc, argv, {baseUrl ? baseUrl : "", key ? key : ""});
}
