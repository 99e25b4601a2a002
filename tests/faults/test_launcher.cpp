// The product's run with a stall bound of two seconds instead of thirty, for the fault rows
// that wait for a server that stops sending, a wait of three seconds for another run instead
// of fifteen minutes, decoder windows for one small object at a time, and with
// KESTRUN_TEST_PARALLEL_TRANSFERS files fetched at once; with KESTRUN_TEST_MAPPED_OBJECTS, every
// object decoded as a large file's is. Everything else is the product's own run.
#include "launcher/build_config.h"
#include "launcher/run_phases.h"

int main(int argc, char** argv) {
  LauncherSettings settings{defaultBaseUrl, manifestPublicKey};
  settings.stallTimeoutSeconds = 2;
  settings.lockWaitSeconds = 3;
  settings.decoderWindowBudget = std::uint64_t{1} << 20;
  settings.parallelTransfers = KESTRUN_TEST_PARALLEL_TRANSFERS;
  if (KESTRUN_TEST_MAPPED_OBJECTS) settings.bufferedObjectBytes = 0;
  return runLauncher(argc, argv, settings);
}
