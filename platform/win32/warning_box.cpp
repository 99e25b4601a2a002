#include <windows.h>

#include "platform/text.h"
#include "platform/window.h"

namespace platform {

void showWarningBox(const std::string& caption, const std::string& text) {
  // A string with an invalid sequence is shown empty rather than garbled.
  NativeString wideCaption;
  NativeString wideText;
  if (!fromUtf8Strict(caption, wideCaption)) wideCaption.clear();
  if (!fromUtf8Strict(text, wideText)) wideText.clear();
  MessageBoxW(nullptr, wideText.c_str(), wideCaption.c_str(), MB_OK | MB_ICONWARNING);
}

}  // namespace platform
