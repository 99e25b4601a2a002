#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/window.h"

// The resources the launcher's executable carries, linked into this program the same way.
namespace {

std::uint32_t bigEndian32(const std::vector<unsigned char>& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
         (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

TEST(ExecutableResources, TheBackgroundIsA1500By864RgbaPngNamedUpgradeBg) {
  std::vector<unsigned char> png;
  ASSERT_TRUE(platform::loadBackgroundPng(png));
  ASSERT_GE(png.size(), 33u);
  const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  EXPECT_TRUE(std::equal(signature, signature + 8, png.begin()));
  EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
  EXPECT_EQ(bigEndian32(png, 16), 1500u);
  EXPECT_EQ(bigEndian32(png, 20), 864u);
  EXPECT_EQ(png[24], 8);  // bits per channel
  EXPECT_EQ(png[25], 6);  // truecolour with alpha
}

TEST(ExecutableResources, NoToolkitIconOnWindows) {
  std::vector<unsigned char> png{1, 2, 3};
  EXPECT_FALSE(platform::loadWindowIconPng(png));
  EXPECT_TRUE(png.empty());
}

// The resource's bytes, or none.
std::string resourceBytes(LPCWSTR name, LPCWSTR type) {
  const HRSRC info = FindResourceW(nullptr, name, type);
  if (!info) return std::string();
  const HGLOBAL loaded = LoadResource(nullptr, info);
  const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  return bytes ? std::string(bytes, SizeofResource(nullptr, info)) : std::string();
}

TEST(ExecutableResources, TheManifestAsksForTheInvokersRightsAndNoUiAccess) {
  const std::string manifest = resourceBytes(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
  EXPECT_NE(manifest.find("<ws2:longPathAware>true</ws2:longPathAware>"), std::string::npos);
}

#pragma pack(push, 2)
struct IconGroupHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
struct IconGroupEntry {
  BYTE width;
  BYTE height;
  BYTE colourCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST(ExecutableResources, TheFirstIconGroupHoldsSizes16To256) {
  const std::string group = resourceBytes(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), sizeof(IconGroupHeader));
  IconGroupHeader header;
  std::memcpy(&header, group.data(), sizeof header);
  ASSERT_EQ(header.type, 1);
  ASSERT_EQ(group.size(), sizeof header + header.count * sizeof(IconGroupEntry));
  std::vector<int> sizes;
  for (int i = 0; i < header.count; ++i) {
    IconGroupEntry entry;
    std::memcpy(&entry, group.data() + sizeof header + i * sizeof entry, sizeof entry);
    sizes.push_back(entry.width == 0 ? 256 : entry.width);
    EXPECT_EQ(entry.bitCount, 32);
  }
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));

  wchar_t path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  EXPECT_EQ(ExtractIconExW(path, -1, nullptr, nullptr, 0), 1u);  // one icon group in all
}

}  // namespace
