#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "ui/ui_text.h"

// The table of user-facing texts, byte for byte, and the filling of the two count texts.
namespace {

struct TextRow {
  UiText index;
  int number;
  const char* english;
  const char* chinese;
};

const TextRow kRows[] = {
      {UiText::ProductName, 0,
       "Fennick",
       "Fennick"},
      {UiText::LauncherTitle, 1,
       "Fennick Launcher",
       "Fennick 启动器"},
      {UiText::UpdateWindowTitle, 2,
       "Fennick Update",
       "Fennick 更新"},
      {UiText::InstallWindowTitle, 3,
       "Fennick Installer",
       "Fennick 安装"},
      {UiText::PreparingDownload, 4,
       "Preparing download\u2026",
       "正在准备下载\u2026"},
      {UiText::DownloadingUpdate, 5,
       "Downloading update ({current}/{total})\u2026",
       "正在下载更新（{current}/{total}）\u2026"},
      {UiText::DownloadingApplication, 6,
       "Downloading application ({current}/{total})\u2026",
       "正在下载程序（{current}/{total}）\u2026"},
      {UiText::UpdateDownloaded, 7,
       "Download complete. Applying the update and restarting\u2026",
       "下载完成，正在应用更新并重启\u2026"},
      {UiText::ApplicationDownloaded, 8,
       "Download complete. Installing and starting\u2026",
       "下载完成，正在安装并启动\u2026"},
      {UiText::UpdateDownloadFailed, 9,
       "Download failed. Starting the current version\u2026",
       "下载失败，正在启动当前版本\u2026"},
      {UiText::ApplicationDownloadFailed, 10,
       "Download failed.",
       "下载失败。"},
      {UiText::OkButton, 11,
       "OK",
       "确定"},
      {UiText::ApplicationIncomplete, 12,
       "The application download did not complete. Check your network connection, then try again.",
       "程序下载未完成，无法启动。请检查网络后重试。"},
      {UiText::NoApplicationFiles, 13,
       "No application files are currently available on the server.",
       "服务器暂无可用的程序内容。"},
      {UiText::ServerUnreachable, 14,
       "Unable to connect to the update server, so the application cannot be downloaded right now. Try again later.",
       "无法连接更新服务器，暂时无法下载程序。请稍后重试。"},
      {UiText::ServerAddressMissing, 15,
       "The application is missing, and the update server address could not be determined. Check Kestrun.ini.",
       "缺少主程序，且未能确定更新服务器地址（请检查 Kestrun.ini）。"},
      {UiText::StartFailed, 16,
       "Unable to start the application. Check the launcher log or contact your administrator.",
       "无法启动主程序。请检查启动器日志，或联系系统管理员。"},
};

TEST(UiTextTable, EveryEntryInBothLanguagesByteForByte) {
  ASSERT_EQ(sizeof kRows / sizeof kRows[0], 17u);
  for (const TextRow& row : kRows) {
    EXPECT_EQ(static_cast<int>(row.index), row.number);
    EXPECT_STREQ(uiText(false, row.index), row.english) << row.number;
    EXPECT_STREQ(uiText(true, row.index), row.chinese) << row.number;
  }
}

TEST(UiTextTable, EllipsesAreOneCharacterAndChinesePunctuationIsFullWidth) {
  for (const TextRow& row : kRows) {
    for (const bool chinese : {false, true}) {
      const std::string text = uiText(chinese, row.index);
      EXPECT_EQ(text.find("..."), std::string::npos) << row.number;
      const bool ellipsis = row.number >= 4 && row.number <= 9;
      EXPECT_EQ(text.find("\u2026") != std::string::npos, ellipsis) << row.number << " " << chinese;
      if (!chinese) continue;
      // Beyond the product and file names, no ASCII punctuation: , . ( ) and : are full width.
      for (const char c : {',', '.', '(', ')', ':', ';'}) {
        const std::string withoutFileName = text.substr(0, text.find("Kestrun.ini"));
        EXPECT_EQ(withoutFileName.find(c), std::string::npos) << row.number << " has " << c;
      }
    }
  }
}

TEST(UiTextTable, AnIndexAboveTheTableGivesAnEmptyTextNeverNull) {
  for (const int index : {17, 18, 200, 255}) {
    for (const bool chinese : {false, true}) {
      const char* text = uiText(chinese, static_cast<UiText>(index));
      ASSERT_NE(text, nullptr) << index;
      EXPECT_STREQ(text, "") << index;
    }
  }
}

TEST(ProgressText, OnlyTheTwoCountTextsAreFilledIn) {
  struct Case {
    bool chinese;
    int index;
    int current;
    int total;
    const char* expected;
  };
  const Case cases[] = {
      {false, 5, 3, 10, "Downloading update (3/10)\u2026"},
      {true, 5, 3, 10, "正在下载更新（3/10）\u2026"},
      {false, 6, 1, 1, "Downloading application (1/1)\u2026"},
      {true, 6, 1, 1, "正在下载程序（1/1）\u2026"},
      {false, 5, -1, 0, "Downloading update (-1/0)\u2026"},
      {true, 6, INT_MIN, INT_MAX, "正在下载程序（-2147483648/2147483647）\u2026"},
      // Every other index, also ones whose text exists, gives nothing.
      {false, 4, 3, 10, ""},
      {true, 4, 3, 10, ""},
      {false, 0, 1, 2, ""},
      {false, 7, 1, 2, ""},
      {true, 16, 1, 2, ""},
      {false, 17, 1, 2, ""},
      {true, 255, 1, 2, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formatProgressText(c.chinese, static_cast<UiText>(c.index), c.current, c.total), c.expected)
        << c.index << " " << c.chinese;
  }
}

}  // namespace
