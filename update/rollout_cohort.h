#pragma once

#include <filesystem>
#include <string>

// Who is in a candidate's cohort is decided on each installation, from a random identifier
// that never leaves it: the installation is in when SHA-256(salt + ":" + identifier), read as
// a fraction in [0, 1) from its first 8 bytes, lies below share / 100. For one salt a larger
// share therefore only adds installations, and a new candidate (a new salt) draws a new cohort.
bool inRolloutCohort(const std::string& salt, const std::string& identifier, double share);

// The identifier's file in the installation (update_id.txt): the identifier (32 lower-case
// hexadecimal characters, 128 bits from the system's random source), the computer's name and
// the installation directory as the system resolves it (platform::directoryIdentityText), one
// a line. An installation that finds another name or directory there has been copied or
// moved (a cloned machine image), and draws a new identifier. The file is never opened through a link: anything but a plain file there is
// replaced. False with errorText when no identifier can be drawn or kept.
bool installationIdentifier(const std::filesystem::path& installDir, std::string& identifier,
                            std::string& errorText);
