#include "platform/text.h"

namespace platform {

std::string trimSystemMessage(std::string message) {
  while (!message.empty()) {
    char last = message.back();
    if (last != '\r' && last != '\n' && last != ' ' && last != '.') break;
    message.pop_back();
  }
  if (message.empty()) return "未知系统错误";
  return message;
}

}  // namespace platform
