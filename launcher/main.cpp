#include "launcher/build_config.h"
#include "launcher/run_phases.h"

int main(int argc, char** argv) { return runLauncher(argc, argv, {defaultBaseUrl, manifestPublicKey}); }
