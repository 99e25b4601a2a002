// The launcher with a stall bound of two seconds instead of thirty, for the one fault row
// that waits for a server that stops sending. Everything else is the product's own run.
#include "launcher/build_config.h"
#include "launcher/run_phases.h"

int main(int argc, char** argv) {
  LauncherSettings settings{defaultBaseUrl, manifestPublicKey};
  settings.stallTimeoutSeconds = 2;
  return runLauncher(argc, argv, settings);
}
