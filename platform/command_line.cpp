#include "platform/command_line.h"

namespace platform {

std::wstring buildCommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments) {
  std::wstring line;
  line += L'"';
  line += program;
  line += L'"';
  for (const std::wstring& argument : arguments) {
    line += L" \"";
    for (wchar_t c : argument) {
      if (c == L'"') line += L'\\';
      line += c;
    }
    line += L'"';
  }
  return line;
}

}  // namespace platform
