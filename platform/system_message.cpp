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

std::string errorCodeText(const std::error_code& error) {
  if (error.category() == std::system_category()) return windowsErrorText(static_cast<std::uint32_t>(error.value()));
  return trimSystemMessage(error.message());
}

}  // namespace platform
