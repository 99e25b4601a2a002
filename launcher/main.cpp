#include "launcher/build_config.h"
#include "launcher/run_phases.h"

int main(int argc, char** argv) {
  LauncherSettings settings{defaultBaseUrl, manifestPublicKey};
  settings.parallelTransfers = parallelTransfers;
  return runLauncher(argc, argv, settings);
}
