#pragma once

#include <cctype>
#include <string>

// A test name made from a table row's description: letters and digits stay, the rest become '_'.
inline std::string caseName(const char* description) {
  std::string name;
  for (const char* p = description; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
}
