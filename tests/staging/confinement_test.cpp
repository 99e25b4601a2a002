#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "names/installation_layout.h"
#include "names/windows_names.h"
#include "platform/filesystem.h"
#include "staging/confinement.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(ConfinedManifestPath, AcceptsPathsThatStayBelowTheirDirectory) {
  for (const char* path : {"Vardel.exe", "bin/app.dll", "bin/My File+1.dll", "数据/说明.txt", "a//b.dll",
                           "lib/.hidden", "lib/..x", "x../y", "console.log", "COM10", "LPT¹0", "nul2/x",
                           "a~1.txt", "del\x7F"}) {
    EXPECT_TRUE(isConfinedManifestPath(path)) << path;
  }
}

TEST(ConfinedManifestPath, RefusesPathsThatCouldLeaveTheirDirectory) {
  const std::vector<std::string> refused = {
      "", "/", "/abs/x", "//server/share/x", "../x", "a/../../x", "a/..", "..", ".", "./x", "a/./b",
      "a/", "a/ ../x", "a/.. /x", "a/.../x", "C:/x", "C:x", "c:", "a/b:stream", "a\\b", "..\\x",
      "CON", "lib/nul.txt", "Aux", "com1.dll", "LPT9", "conout$", "COM0", "LPT0.txt", "com¹.dll", "LPT³", std::string("a\0b", 3),
      "notes?.txt", "a<b>.txt", "a|b", "x*", "q\"", "tab\t", "a\x01/b", "bin\x1F/x"};
  for (const std::string& path : refused) EXPECT_FALSE(isConfinedManifestPath(path)) << path;
}

ManifestEntry file(const std::string& path) { return ManifestEntry{path, 1, 0, ""}; }
ManifestEntry link(const std::string& path, const std::string& target) { return ManifestEntry{path, 0, 0, target}; }

TEST(UnconfinedEntry, RefusesEntriesBelowALinkEntryWhateverTheOrder) {
  struct Case {
    std::vector<ManifestEntry> entries;
    const char* offending;  // nullptr: the list is accepted
  };
  const std::vector<Case> cases = {
      {{file("a.dll"), link("lib/libz.so", "libz.so.1"), file("lib/libz.so.1")}, nullptr},
      {{file("lib/x"), link("lib/x", "y")}, nullptr},
      {{link("lib", "/tmp"), file("lib/x")}, "lib/x"},
      {{file("lib/x"), link("lib", "/tmp")}, "lib/x"},
      {{link("a/lib", "/tmp"), link("a/lib/deeper/y", "z")}, "a/lib/deeper/y"},
      {{link("Lib", "/tmp"), file("lib/x")}, "lib/x"},
      {{link("lib. ", "/tmp"), file("LIB./x")}, "LIB./x"},  // Windows drops trailing dots and blanks
      {{link("a//lib", "/tmp"), file("a/lib//x")}, "a/lib//x"},
      {{file("ok.dll"), file("../x")}, "../x"},
      {{file("ok.dll"), link("/abs/link", "x")}, "/abs/link"},
  };
  for (const Case& c : cases) {
    std::string offending = "unchanged";
    const bool accepted = findUnconfinedEntry(c.entries, offending);
    if (c.offending == nullptr) {
      EXPECT_TRUE(accepted) << offending;
      EXPECT_EQ(offending, "unchanged");
    } else {
      EXPECT_FALSE(accepted) << c.offending;
      EXPECT_EQ(offending, c.offending);
    }
  }
}

TEST(ConfinedLinkTarget, StaysInsideTheInstallationReadFromTheLinksDirectory) {
  for (const auto& [path, target] : std::vector<std::pair<std::string, std::string>>{
           {"lib/libz.so", "libz.so.1"}, {"a/b/link", "../../top.dll"}, {"a/link", "./x/../y"}, {"a//link", "../x"}}) {
    EXPECT_TRUE(isConfinedLinkTarget(path, target)) << path << " -> " << target;
  }
  for (const auto& [path, target] : std::vector<std::pair<std::string, std::string>>{
           {"link", "../x"}, {"a/link", "../../x"}, {"a/link", "x/../../../y"}, {"a/link", "..\\..\\x"},
           {"link", "/etc/passwd"}, {"link", "\\\\host\\share"}, {"link", "C:x"}, {"link", ""}}) {
    EXPECT_FALSE(isConfinedLinkTarget(path, target)) << path << " -> " << target;
  }
}

TEST(LauncherOwnPath, NamesTheLaunchersFilesAsWindowsWould) {
  for (const char* path : {"update.log", "UPDATE.LOG.", "update.lock", "update.restart.lock", "update_serial.txt",
                           "update_serial.txt.new", "update_staging", "update_staging/a.dll", "logs",
                           "Logs/kestrun-20261207.log", "update_digests.txt", "Update_Digests.txt.new",
                           "update_resume.txt", "update_resume.txt.new", "update_id.txt", "LOGS/KESTRUN-1.LOG",
                           "Update_Installed.txt.new"}) {
    EXPECT_TRUE(isLauncherOwnPath(path)) << path;
  }
  for (const char* path : {"update.log.bak", "bin/update.log", "logs/vardel.log", "logs/kestrun-1.txt", "logs/a/kestrun-1.log",
                           "logs/kestrun-", "logs/kestrun.log"}) {
    EXPECT_FALSE(isLauncherOwnPath(path)) << path;
  }
}

TEST(LauncherOwnPath, EveryRuleReadsTheseNamesInThisOrder) {
  EXPECT_EQ(launcherOwnTopNames(),
            (std::vector<std::string>{"update.log", "update.lock", "update.restart.lock", "update_staging",
                                      "update_serial.txt", "update_serial.txt.new", "update_id.txt",
                                      "update_id.txt.new", "update_digests.txt", "update_digests.txt.new",
                                      "update_installed.txt", "update_installed.txt.new", "update_resume.txt",
                                      "update_resume.txt.new", "update_rollback",
                                      "update_refused.txt", "update_refused.txt.new", "logs"}));
}

TEST(WindowsNames, OneFileOnWindowsShortNamesAndPrintableTexts) {
  for (const auto& [a, b] : std::vector<std::pair<std::string, std::string>>{
           {"Ä.dat", "ä.dat"}, {"ǅ", "ǆ"}, {"Σ", "σ"}, {"lib. ", "LIB"}, {"a\xFF", "a\xFE\xFF"}, {"a\xFF", "a\uFFFD"}}) {
    std::string left, right;
    names::appendComparedName(left, a);
    names::appendComparedName(right, b);
    EXPECT_EQ(left, right) << a << " " << b;
  }
  for (const auto& [a, b] : std::vector<std::pair<std::string, std::string>>{
           {"\U00010400", "\U00010428"}, {"ß", "SS"}, {"a", "a\xFF"}, {"a.b", "ab"}}) {
    std::string left, right;
    names::appendComparedName(left, a);
    names::appendComparedName(right, b);
    EXPECT_NE(left, right) << a << " " << b;  // beyond U+FFFF Windows folds nothing
  }
  for (const auto& [element, name] : std::vector<std::pair<std::string, std::string>>{
           {"UPDATE~1.LOC", "update.lock"}, {"updat~12.loc", "update.lock"}, {"UP3F2A~1.LOC", "update.lock"},
           {"UPDATE~1", "update_staging"}, {"VCRUNT~1.DLL", "vcruntime140*"}, {"API-MS~9.DLL", "api-ms-win-*"}}) {
    EXPECT_TRUE(names::mayBeShortNameOf(element, name)) << element << " " << name;
  }
  for (const auto& [element, name] : std::vector<std::pair<std::string, std::string>>{
           {"UPDATE~1.LOG", "update.lock"}, {"UPDATE~1.LOC", "update_staging"}, {"UPDATE~X.LOC", "update.lock"},
           {"UPDATES~1.LOC", "update.lock"}, {"ABCD~1.LOC", "update.lock"}, {"UPDATE.LOC", "update.lock"},
           {"UPD~1.LOC", "update.lock"}, {"A~1.DLL", "api-ms-win-*"}}) {
    EXPECT_FALSE(names::mayBeShortNameOf(element, name)) << element << " " << name;
  }
  EXPECT_EQ(names::printableName("a\nb\x7F数据\xFF"), "a\\x0Ab\\x7F数据\\xFF");
}

TEST(JudgedManifest, LinksAreJudgedAsResolvedAndInvalidUtf8AsWindowsReadsIt) {
  struct Case {
    std::vector<ManifestEntry> entries;
    std::string errorText;  // empty: accepted
  };
  const auto repeated = [](const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
  };
  const auto longName = [](const std::string& path) { return "更新清单路径中的名称过长：" + path; };
  const auto manyLinksAndOneDeepTarget = [&] {
    std::vector<ManifestEntry> entries = {link("L", repeated("a/", 200000) + "x")};
    for (int i = 0; i < 30; ++i) entries.push_back(link("l" + std::to_string(i), "x"));
    return entries;
  };
  const std::vector<Case> cases = {
      {{link("d/y", ".."), link("d/L", "y/../x")}, "更新清单软链接经过另一个软链接：d/L -> y/../x"},
      {{link("d/L", "Y./../x"), link("d/y", "..")}, "更新清单软链接经过另一个软链接：d/L -> Y./../x"},
      {{link("Current", "A"), link("Foo", "current/Foo")}, "更新清单软链接经过另一个软链接：Foo -> current/Foo"},
      {{link("d/y", ".."), link("d/L", "y")}, ""},  // the last element: y's own target is judged
      {{link("d/y", ".."), link("d/L", "../d/x/../z")}, ""},
      {{file("a\xFF"), file("a\xFE")}, "更新清单路径仅无效的 UTF-8 字节不同：a\\xFF，a\\xFE"},
      // A name Windows can write is at most 255 UTF-16 units; a character beyond U+FFFF takes two.
      {{file("d/" + std::string(255, 'a'))}, ""},
      {{file(repeated("\U0001F600", 127) + "\xFF")}, ""},
      {{file(std::string(254, 'a') + "\xFF\xFE\xFD")}, ""},  // a run of invalid bytes: one U+FFFD at least
      {{file("d/" + std::string(256, 'a') + "/x")}, longName("d/" + std::string(256, 'a') + "/x")},
      {{file(repeated("\U0001F600", 128))}, longName(repeated("\U0001F600", 128))},
      // One place cannot be a file and a folder.
      {{file("data"), file("bin/x.dll"), file("Data./x")}, "更新清单路径既是文件又是文件夹：data，Data./x"},
      {{file("lib/a/b.dll"), file("lib/a/c.dll"), file("Lib/A")}, "更新清单路径既是文件又是文件夹：Lib/A，lib/a/b.dll"},
      {{file("ab/c"), file("a"), file("a.b/c")}, ""},
      // The folders of a deep path are looked up in one pass over it, not one pass each.
      {{link("x", "y"), file(repeated("a/", 200000) + "b"), file("a")}, "更新清单路径既是文件又是文件夹：a，" +
                                                                           repeated("a/", 200000) + "b"},
      {manyLinksAndOneDeepTarget(), ""},
  };
  for (const Case& c : cases) {
    std::string errorText;
    EXPECT_EQ(judgeManifestEntries(c.entries, errorText), c.errorText.empty()) << c.errorText;
    EXPECT_EQ(errorText, c.errorText);
  }
}

TEST(LinkedParent, FindsTheFirstDirectoryThatIsALink) {
  testing_support::TempDir root;
  testing_support::TempDir elsewhere;
  SKIP_WITHOUT_SYMLINKS(root.path());
  fs::create_directories(root / "real/deeper");
  ASSERT_FALSE(platform::createFileSymlink(elsewhere.path().native(), root / "real/link"));
  ASSERT_FALSE(platform::createFileSymlink(elsewhere.path().native(), root / "top"));

  struct Case {
    const char* relative;
    const char* linkedParent;
  };
  const std::vector<Case> cases = {
      {"file.dll", ""},                    // nothing between root and the item
      {"real/deeper/file.dll", ""},        // real directories only
      {"missing/dir/file.dll", ""},        // created later as real directories
      {"real/link", ""},                   // the item itself may be a link; it is replaced, not entered
      {"real/link/file.dll", "real/link"},
      {"top/a/b/file.dll", "top"},
  };
  for (const Case& c : cases) {
    fs::path linkedParent = "unchanged";
    EXPECT_FALSE(findLinkedParent(root.path(), c.relative, linkedParent)) << c.relative;
    EXPECT_EQ(linkedParent, fs::path(c.linkedParent)) << c.relative;
  }
}

}  // namespace
