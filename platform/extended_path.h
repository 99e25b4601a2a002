#pragma once

#include <string>
#include <string_view>

// Windows' extended-length path form ("\\?\C:\dir", "\\?\UNC\server\share\dir"), which lifts
// the classic limit of 260 characters. Pure text rules, free of system calls, so that both
// systems test them; platform/win32 hands every path of a file-system call through them.
namespace platform {

// The extended-length form of a full Windows path, as GetFullPathNameW gives it: a drive path
// "C:\..." gets "\\?\", a share "\\server\share\..." becomes "\\?\UNC\server\share\...".
// Since the prefix turns Windows' own clean-up off, the input must already be clean; forward
// slashes are still turned into backslashes. Given back unchanged: a path that already has a
// prefix ("\\?\", "\\.\", "\??\"), a path that is not fully qualified, and a path with an
// element that names a reserved device (CON, NUL, COM1, ...), which keeps its classic meaning
// so that no file of such a name can ever be made through the prefix.
std::wstring toExtendedLengthPath(std::wstring_view path);

// The classic form of an extended-length path, for log lines and messages: "\\?\C:\dir" gives
// "C:\dir", "\\?\UNC\server\share" gives "\\server\share"; any other path comes back as it is.
std::wstring withoutExtendedPrefix(std::wstring_view path);

// Whether an element names a reserved device: CON, PRN, AUX, NUL, COM1-9, LPT1-9 (also with
// the superscript digits 1-3), in any case, alone or before an extension or trailing spaces.
bool isReservedDeviceName(std::wstring_view element);

}  // namespace platform
