#pragma once

#include <filesystem>
#include <string>

// The parts that registerUrlProtocols (platform/environment.h) builds the Linux URL-scheme
// registration from. A scheme handler on a desktop that follows freedesktop.org is a desktop
// entry in the user's applications folder that names the scheme as its MIME type, plus the
// user's default-application choice in mimeapps.list.
namespace platform {

// Registers `launcherPath` as the handler of both schemes, rewriting earlier registrations.
// Failures are ignored: nothing is reported and the next file is still attempted.
void registerUrlProtocolsFor(const std::filesystem::path& launcherPath);

// Removes the desktop entry of each scheme whose Exec line starts `launcherPath`, and the
// default choice of that entry in mimeapps.list; an entry that starts another launcher keeps
// both. Gives the number of schemes removed.
int unregisterUrlProtocolsFor(const std::filesystem::path& launcherPath);

// mimeapps.list content without the line `mimeType`=`desktopId` under [Default Applications];
// every other line is kept as it was.
std::string withoutDefaultApplication(const std::string& mimeApps, const std::string& mimeType,
                                      const std::string& desktopId);

// One argument of a desktop entry's Exec key, as it is written in the file: double-quoted,
// with ", `, $ and \ escaped inside the quotes, % doubled, and the string escapes of the
// file format applied on top.
std::string desktopExecArgument(const std::string& argument);

// mimeapps.list content with `mimeType`=`desktopId` under [Default Applications]; every
// other line is kept as it was.
std::string withDefaultApplication(const std::string& mimeApps, const std::string& mimeType,
                                   const std::string& desktopId);

}  // namespace platform
