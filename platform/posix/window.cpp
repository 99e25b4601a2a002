#include "platform/window.h"

#include <X11/Xlib.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <locale>
#include <memory>
#include <sstream>

namespace platform {

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayOwner = std::unique_ptr<Display, DisplayCloser>;

struct PatternDestroyer {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using PatternOwner = std::unique_ptr<FcPattern, PatternDestroyer>;

}  // namespace

// Nothing to hand over here: the toolkit places the window and owns its icon.
class WindowDecoration {};

void WindowDecorationCloser::operator()(WindowDecoration* decoration) const { delete decoration; }

void enableDpiAwareness() {}

int screenDpi() {
  const DisplayOwner display(XOpenDisplay(nullptr));
  if (!display) return 96;
  const char* setting = XGetDefault(display.get(), "Xft", "dpi");
  if (!setting) return 96;
  std::istringstream in(setting);
  in.imbue(std::locale::classic());
  double dpi = 0;
  if (!(in >> dpi) || !std::isfinite(dpi) || dpi < 1 || dpi > 10000) return 96;
  return static_cast<int>(dpi + 0.5);
}

bool hasDisplay() { return DisplayOwner(XOpenDisplay(nullptr)) != nullptr; }

std::string uiFontFace() {
  const std::string fallback = "sans";
  const PatternOwner pattern(FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=zh-cn")));
  if (!pattern) return fallback;
  FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  const PatternOwner match(FcFontMatch(nullptr, pattern.get(), &result));
  FcChar8* family = nullptr;
  if (!match || FcPatternGetString(match.get(), FC_FAMILY, 0, &family) != FcResultMatch || !family) {
    return fallback;
  }
  return reinterpret_cast<const char*>(family);
}

WindowDecorationOwner decorateShownWindow(void*) { return nullptr; }

}  // namespace platform
