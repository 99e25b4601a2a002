#include "platform/window.h"

#include <X11/Xlib.h>
#include <fontconfig/fontconfig.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <locale>
#include <memory>
#include <sstream>
#include <thread>

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

// A busy X server turns connections away for a moment (its socket's backlog is full:
// EAGAIN), and one that is resetting after its last client left drops them (ECONNRESET);
// both are worth a few more tries, any other failure is not.
Display* openDisplay() {
  for (int attempt = 0;; ++attempt) {
    errno = 0;
    if (Display* display = XOpenDisplay(nullptr)) return display;
    if ((errno != EAGAIN && errno != ECONNRESET) || attempt >= 20) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

}  // namespace

// Nothing to hand over here: the toolkit places the window and owns its icon.
class WindowDecoration {};

void WindowDecorationCloser::operator()(WindowDecoration* decoration) const { delete decoration; }

void enableDpiAwareness() {}

int screenDpi() {
  const DisplayOwner display(openDisplay());
  if (!display) return 96;
  const char* setting = XGetDefault(display.get(), "Xft", "dpi");
  if (!setting) return 96;
  std::istringstream in(setting);
  in.imbue(std::locale::classic());
  double dpi = 0;
  if (!(in >> dpi) || !std::isfinite(dpi) || dpi < 1 || dpi > 10000) return 96;
  return static_cast<int>(dpi + 0.5);
}

bool hasDisplay() { return DisplayOwner(openDisplay()) != nullptr; }

void* connectDisplay() { return openDisplay(); }

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
