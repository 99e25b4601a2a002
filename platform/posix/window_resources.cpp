#include <cstddef>

#include "platform/window.h"

// The pictures that the resources library compiles into the executable. They are weak
// references, so a program linked without them behaves like an executable without its
// resources on Windows: no background, no icon.
extern "C" {
extern const unsigned char kestrun_upgrade_bg_png[] __attribute__((weak));
extern const std::size_t kestrun_upgrade_bg_png_size __attribute__((weak));
extern const unsigned char kestrun_icon_png[] __attribute__((weak));
extern const std::size_t kestrun_icon_png_size __attribute__((weak));
}

namespace platform {

namespace {

bool copyEmbedded(const unsigned char* data, const std::size_t* size, std::vector<unsigned char>& png) {
  png.clear();
  if (!data || !size || *size == 0) return false;
  png.assign(data, data + *size);
  return true;
}

}  // namespace

bool loadBackgroundPng(std::vector<unsigned char>& png) {
  return copyEmbedded(kestrun_upgrade_bg_png, &kestrun_upgrade_bg_png_size, png);
}

bool loadWindowIconPng(std::vector<unsigned char>& png) {
  return copyEmbedded(kestrun_icon_png, &kestrun_icon_png_size, png);
}

}  // namespace platform
