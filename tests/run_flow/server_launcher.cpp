// The launcher with its update server given by the test through KESTRUN_TEST_BASE_URL, so that
// a test can point it at a loopback server of its own.
#include <cstdlib>

#include "launcher/run_phases.h"
#include "tests/run_flow/redirected_stderr.h"

int main(int argc, char** argv) {
  redirectStandardErrorForTest();
  const char* baseUrl = std::getenv("KESTRUN_TEST_BASE_URL");
  return runLauncher(argc, argv, {baseUrl ? baseUrl : ""});
}
