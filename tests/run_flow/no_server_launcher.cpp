// The launcher built without an update server: only its run flow, as a user would start it.
#include "launcher/run_phases.h"
#include "tests/run_flow/redirected_stderr.h"

int main(int argc, char** argv) {
  redirectStandardErrorForTest();
  return runLauncher(argc, argv, {});
}
