#pragma once

#include <filesystem>
#include <system_error>

// What a test needs to know about the system it runs on, without #ifdefs at the call site.
namespace testing_support {

// True in a Windows build, run on Windows or under Wine: paths take '\' as their separator.
constexpr bool kWindowsBuild = std::filesystem::path::preferred_separator == L'\\';

// True when this Windows program runs under Wine (its ntdll exports wine_get_version);
// false on Windows and on Linux. For the few gaps of Wine that a test cannot probe for.
bool runningUnderWine();

// The system's own error for a condition, as the backends report it: the errno value on
// Linux, the Windows error code in a Windows build (as Wine reports it where Windows and Wine
// differ). Covers the conditions the tests provoke.
std::error_code systemErrorFor(std::errc condition);

}  // namespace testing_support
