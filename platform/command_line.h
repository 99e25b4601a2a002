#pragma once

#include <string>
#include <vector>

namespace platform {

// The Windows command line of a started program: the quoted program path, then each argument
// in double quotes with a backslash put before every double quote inside it. Nothing else is
// changed, so backslashes (also before a quote or at the end) stay as they are.
std::wstring buildCommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments);

}  // namespace platform
