#include "ui/ui_text.h"

#include "platform/environment.h"

namespace {

constexpr int kTextCount = 17;

const char* const kEnglish[kTextCount] = {
    "Fennick",
    "Fennick Launcher",
    "Fennick Update",
    "Fennick Installer",
    "Preparing download\u2026",
    "Downloading update ({current}/{total})\u2026",
    "Downloading application ({current}/{total})\u2026",
    "Download complete. Applying the update and restarting\u2026",
    "Download complete. Installing and starting\u2026",
    "Download failed. Starting the current version\u2026",
    "Download failed.",
    "OK",
    "The application download did not complete. Check your network connection, then try again.",
    "No application files are currently available on the server.",
    "Unable to connect to the update server, so the application cannot be downloaded right now. Try again later.",
    "The application is missing, and the update server address could not be determined. Check Kestrun.ini.",
    "Unable to start the application. Check the launcher log or contact your administrator.",
};

const char* const kChinese[kTextCount] = {
    "Fennick",
    "Fennick 启动器",
    "Fennick 更新",
    "Fennick 安装",
    "正在准备下载…",
    "正在下载更新（{current}/{total}）…",
    "正在下载程序（{current}/{total}）…",
    "下载完成，正在应用更新并重启…",
    "下载完成，正在安装并启动…",
    "下载失败，正在启动当前版本…",
    "下载失败。",
    "确定",
    "程序下载未完成，无法启动。请检查网络后重试。",
    "服务器暂无可用的程序内容。",
    "无法连接更新服务器，暂时无法下载程序。请稍后重试。",
    "缺少主程序，且未能确定更新服务器地址（请检查 Kestrun.ini）。",
    "无法启动主程序。请检查启动器日志，或联系系统管理员。",
};

void replaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

}  // namespace

const char* uiText(bool chinese, UiText index) {
  const int i = static_cast<int>(index);
  if (i >= kTextCount) return "";
  return chinese ? kChinese[i] : kEnglish[i];
}

std::string formatProgressText(bool chinese, UiText index, int current, int total) {
  if (index != UiText::DownloadingUpdate && index != UiText::DownloadingApplication) return "";
  std::string text = uiText(chinese, index);
  replaceAll(text, "{current}", std::to_string(current));
  replaceAll(text, "{total}", std::to_string(total));
  return text;
}

bool isChineseUi() { return platform::isChineseUi(); }
