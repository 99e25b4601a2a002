// The launcher built without an update server: only its run flow, as a user would start it.
#include "launcher/run_phases.h"

int main(int argc, char** argv) { return runLauncher(argc, argv, ""); }
