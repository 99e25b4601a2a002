#include "staging/paths.h"

#include "platform/text.h"

namespace fs = std::filesystem;

fs::path manifestPathToLocal(const fs::path& base, const std::string& manifestPath) {
  return base / platform::pathFromUtf8(manifestPath);
}

namespace {

using Char = fs::path::value_type;

// \\?\X: with backslashes only: the extended-length form of a drive path.
bool hasExtendedDrivePrefix(const fs::path::string_type& text) {
  if (text.size() < 6) return false;
  const Char backslash = static_cast<Char>('\\');
  if (text[0] != backslash || text[1] != backslash || text[2] != static_cast<Char>('?') || text[3] != backslash)
    return false;
  const Char letter = text[4];
  const bool isLetter = (letter >= static_cast<Char>('A') && letter <= static_cast<Char>('Z')) ||
                        (letter >= static_cast<Char>('a') && letter <= static_cast<Char>('z'));
  return isLetter && text[5] == static_cast<Char>(':');
}

}  // namespace

fs::path relativeToBase(const fs::path& path, const fs::path& base) {
  // The prefix only means something where '\' is a separator; elsewhere it is part of a name.
  if (fs::path::preferred_separator == static_cast<Char>('\\') && hasExtendedDrivePrefix(path.native()) &&
      hasExtendedDrivePrefix(base.native())) {
    return fs::path(path.native().substr(4)).lexically_relative(fs::path(base.native().substr(4)));
  }
  return path.lexically_relative(base);
}

std::string formatFsError(const std::error_code& error) {
  if (error.value() == 0) return "未知文件系统错误";
  return "code=" + std::to_string(error.value()) + "，category=" + error.category().name() +
         "，message=" + platform::errorCodeText(error);
}
