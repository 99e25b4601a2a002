#pragma once

#include <filesystem>
#include <string>

namespace platform {

// Text as the operating system hands it over: UTF-16 on Windows, UTF-8 bytes elsewhere.
// Command-line arguments travel in this type; everything else inside the launcher is UTF-8.
using NativeString = std::filesystem::path::string_type;

}  // namespace platform
