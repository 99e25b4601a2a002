#include <windows.h>

#include "platform/window.h"

namespace platform {

bool loadBackgroundPng(std::vector<unsigned char>& png) {
  png.clear();
  // Resources of a module stay mapped for its lifetime: nothing to free.
  const HRSRC info = FindResourceW(nullptr, L"UPGRADE_BG", RT_RCDATA);
  if (!info) return false;
  const HGLOBAL loaded = LoadResource(nullptr, info);
  if (!loaded) return false;
  const auto* bytes = static_cast<const unsigned char*>(LockResource(loaded));
  const DWORD size = SizeofResource(nullptr, info);
  if (!bytes || size == 0) return false;
  png.assign(bytes, bytes + size);
  return true;
}

bool loadWindowIconPng(std::vector<unsigned char>& png) {
  png.clear();
  return false;
}

}  // namespace platform
