#pragma once

#include <cstdint>
#include <string>

// Every text the launcher shows to the user, in English and Chinese.
enum class UiText : std::uint8_t {
  ProductName = 0,
  LauncherTitle = 1,
  UpdateWindowTitle = 2,
  InstallWindowTitle = 3,
  PreparingDownload = 4,
  DownloadingUpdate = 5,
  DownloadingApplication = 6,
  UpdateDownloaded = 7,
  ApplicationDownloaded = 8,
  UpdateDownloadFailed = 9,
  ApplicationDownloadFailed = 10,
  OkButton = 11,
  ApplicationIncomplete = 12,
  NoApplicationFiles = 13,
  ServerUnreachable = 14,
  ServerAddressMissing = 15,
  StartFailed = 16,
};

// The text of `index` in the chosen language (true = Chinese); "" for an index above 16.
const char* uiText(bool chinese, UiText index);

// Text 5 or 6 with "{current}" and "{total}" filled in; "" for any other index.
std::string formatProgressText(bool chinese, UiText index, int current, int total);

// The user's UI language: true when it is Chinese (any variant).
bool isChineseUi();
