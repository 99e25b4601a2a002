#pragma once

#include <string>
#include <vector>

// The file names an update never replaces once they exist, in the order they are tried: the
// product's own list ("Kestrun.exe" and the Microsoft runtime libraries), with the
// launcher's own file name in front where it differs from "Kestrun.exe" (Linux: "Kestrun").
// A running executable cannot safely overwrite itself, and the runtime it runs on must not
// change under it. The check and the apply step each get their own copy.
std::vector<std::string> lockedFilePatterns();
