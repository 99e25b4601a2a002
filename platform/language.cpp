#include "platform/environment.h"

namespace platform {

bool isChineseLanguageId(std::uint16_t languageId) {
  constexpr std::uint16_t kLangChinese = 0x04;
  return languageId != 0 && (languageId & 0x3ff) == kLangChinese;
}

bool isChineseLocaleName(const std::string& localeName) {
  return localeName.size() >= 2 && localeName[0] == 'z' && localeName[1] == 'h';
}

}  // namespace platform
