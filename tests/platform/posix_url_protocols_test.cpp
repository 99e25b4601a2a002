// URL-scheme registration on a freedesktop.org desktop, under temporary home directories.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "platform/environment.h"
#include "platform/posix/url_protocols.h"
#include "platform/process.h"
#include "tests/platform/scoped_environment.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;
using testing_support::writeFile;
using Value = std::optional<std::string>;

std::string expectedEntry(const std::string& display, const std::string& exec, const std::string& scheme) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + display + "\n"
         "Exec=" + exec + " %u\n"
         "NoDisplay=true\n"
         "MimeType=x-scheme-handler/" + scheme + ";\n";
}

// A home of its own for one test, with the XDG variables pointing into it (or unset).
struct TestHome {
  TempDir dir;
  ScopedEnvironment home{"HOME", Value(dir.path().string())};
  ScopedEnvironment dataHome;
  ScopedEnvironment configHome;

  explicit TestHome(bool withXdgVariables)
      : dataHome("XDG_DATA_HOME", withXdgVariables ? Value((dir / "data").string()) : std::nullopt),
        configHome("XDG_CONFIG_HOME", withXdgVariables ? Value((dir / "config").string()) : std::nullopt) {}
};

TEST(DesktopExecArgument, QuotesAndEscapesForTheDesktopEntryFile) {
  const struct {
    const char* path;
    const char* written;
  } cases[] = {
      {"/opt/fennick/kestrun", R"("/opt/fennick/kestrun")"},
      {"/home/u/My Apps/kestrun", R"("/home/u/My Apps/kestrun")"},
      {R"(/a"b)", R"("/a\\"b")"},
      {"/a$HOME", R"("/a\\$HOME")"},
      {"/a`id`", R"("/a\\`id\\`")"},
      {R"(/back\slash)", R"("/back\\\\slash")"},
      {"/100%", R"("/100%%")"},
      {"/tab\there", R"("/tab\there")"},
      {"/new\nline", R"("/new\nline")"},
      {"/single'quote;&|<>*?#()~", R"("/single'quote;&|<>*?#()~")"},
      {"/中文/启动器", R"("/中文/启动器")"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::desktopExecArgument(c.path), c.written) << c.path;
}

TEST(WithDefaultApplication, SetsTheChoiceAndKeepsEveryOtherLine) {
  const std::string type = "x-scheme-handler/oloma";
  const std::string id = "kestrun-oloma.desktop";
  const struct {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"empty file", "", "[Default Applications]\nx-scheme-handler/oloma=kestrun-oloma.desktop\n"},
      {"other section only", "[Added Associations]\ntext/plain=gedit.desktop;\n",
       "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
       "x-scheme-handler/oloma=kestrun-oloma.desktop\n"},
      {"section without the key",
       "[Default Applications]\ntext/html=firefox.desktop\n\n[Removed Associations]\nimage/png=gimp.desktop\n",
       "[Default Applications]\ntext/html=firefox.desktop\nx-scheme-handler/oloma=kestrun-oloma.desktop\n\n"
       "[Removed Associations]\nimage/png=gimp.desktop\n"},
      {"key pointing elsewhere",
       "# comment\n[Default Applications]\nx-scheme-handler/oloma=old.desktop\ntext/html=firefox.desktop\n",
       "# comment\n[Default Applications]\nx-scheme-handler/oloma=kestrun-oloma.desktop\ntext/html=firefox.desktop\n"},
      {"repeated key",
       "[Default Applications]\nx-scheme-handler/oloma = a.desktop\nx-scheme-handler/oloma=b.desktop\n",
       "[Default Applications]\nx-scheme-handler/oloma=kestrun-oloma.desktop\n"},
      {"same key in another section stays",
       "[Added Associations]\nx-scheme-handler/oloma=other.desktop;\n[Default Applications]\n",
       "[Added Associations]\nx-scheme-handler/oloma=other.desktop;\n[Default Applications]\n"
       "x-scheme-handler/oloma=kestrun-oloma.desktop\n"},
      {"similar key stays", "[Default Applications]\nx-scheme-handler/olomax=z.desktop",
       "[Default Applications]\nx-scheme-handler/olomax=z.desktop\nx-scheme-handler/oloma=kestrun-oloma.desktop\n"},
      {"already set", "[Default Applications]\nx-scheme-handler/oloma=kestrun-oloma.desktop\n",
       "[Default Applications]\nx-scheme-handler/oloma=kestrun-oloma.desktop\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::withDefaultApplication(c.before, type, id), c.after) << c.name;
}

TEST(RegisterUrlProtocols, WritesDesktopEntriesAndDefaultsForBothSchemes) {
  TestHome home(true);
  const fs::path launcher = home.dir / "My Apps" / "kestrun";
  platform::registerUrlProtocolsFor(launcher);

  const std::string exec = "\"" + launcher.string() + "\"";
  EXPECT_EQ(readFile(home.dir / "data/applications/kestrun-oloma.desktop"),
            expectedEntry("URL:Oloma Protocol", exec, "oloma"));
  EXPECT_EQ(readFile(home.dir / "data/applications/kestrun-vardel.desktop"),
            expectedEntry("URL:Vardel Protocol", exec, "vardel"));
  EXPECT_EQ(readFile(home.dir / "config/mimeapps.list"),
            "[Default Applications]\n"
            "x-scheme-handler/oloma=kestrun-oloma.desktop\n"
            "x-scheme-handler/vardel=kestrun-vardel.desktop\n");
  EXPECT_FALSE(fs::exists(home.dir / ".local")) << "only the XDG directories are used";
}

TEST(RegisterUrlProtocols, ALauncherMovedElsewhereRepointsTheSchemes) {
  TestHome home(true);
  writeFile(home.dir / "config/mimeapps.list",
            "[Default Applications]\n"
            "text/html=firefox.desktop\n"
            "x-scheme-handler/vardel=someone-else.desktop\n"
            "\n"
            "[Added Associations]\n"
            "image/png=gimp.desktop;\n");
  platform::registerUrlProtocolsFor(home.dir / "old place" / "kestrun");
  const fs::path moved = home.dir / "new \"place\"" / "kestrun";
  platform::registerUrlProtocolsFor(moved);

  EXPECT_EQ(readFile(home.dir / "data/applications/kestrun-vardel.desktop"),
            expectedEntry("URL:Vardel Protocol", platform::desktopExecArgument(moved.string()), "vardel"));
  EXPECT_EQ(readFile(home.dir / "config/mimeapps.list"),
            "[Default Applications]\n"
            "text/html=firefox.desktop\n"
            "x-scheme-handler/vardel=kestrun-vardel.desktop\n"
            "x-scheme-handler/oloma=kestrun-oloma.desktop\n"
            "\n"
            "[Added Associations]\n"
            "image/png=gimp.desktop;\n");
}

TEST(UnregisterUrlProtocols, RemovesOnlyWhatPointsAtThisLauncher) {
  for (const bool sameLauncher : {true, false}) {
    TestHome home(true);
    writeFile(home.dir / "config/mimeapps.list", "[Default Applications]\ntext/html=firefox.desktop\n");
    const fs::path installed = fs::weakly_canonical(home.dir / "Fennick/Kestrun");
    platform::registerUrlProtocolsFor(installed);
    const std::string mimeApps = readFile(home.dir / "config/mimeapps.list");
    // The same launcher named through a link and a dot, or another installation's.
    fs::create_directory_symlink(home.dir.path(), home.dir / "linked");
    const fs::path named = home.dir / "linked" / (sameLauncher ? "Fennick/./Kestrun" : "Other/Kestrun");
    EXPECT_EQ(platform::unregisterUrlProtocolsFor(named), sameLauncher ? 2 : 0);
    EXPECT_EQ(fs::exists(home.dir / "data/applications/kestrun-oloma.desktop"), !sameLauncher);
    EXPECT_EQ(readFile(home.dir / "config/mimeapps.list"),
              sameLauncher ? "[Default Applications]\ntext/html=firefox.desktop\n" : mimeApps);
  }
}

const std::string kBothDefaults =
    "[Default Applications]\n"
    "x-scheme-handler/oloma=kestrun-oloma.desktop\n"
    "x-scheme-handler/vardel=kestrun-vardel.desktop\n";

// Each start registers again; only a file whose content changes is written. A written file
// is replaced by a rename, so it shows a new modification time.
TEST(RegisterUrlProtocols, ALaterStartWritesOnlyTheFilesThatChange) {
  const std::string oloma = "data/applications/kestrun-oloma.desktop";
  const std::string vardel = "data/applications/kestrun-vardel.desktop";
  const std::string mimeApps = "config/mimeapps.list";
  const struct {
    const char* name;
    std::function<void(const fs::path& home)> between;  // done between the two starts
    const char* secondLauncher;
    std::set<std::string> written;
    std::string mimeAppsAfter;
  } cases[] = {
      {"second start from the same place", nullptr, "first place/kestrun", {}, kBothDefaults},
      {"moved installation", nullptr, "moved/kestrun", {oloma, vardel}, kBothDefaults},
      {"another handler chosen meanwhile",
       [&](const fs::path& home) {
         writeFile(home / mimeApps,
                   "[Default Applications]\n"
                   "x-scheme-handler/oloma=kestrun-oloma.desktop\n"
                   "x-scheme-handler/vardel=someone-else.desktop\n"
                   "text/html=firefox.desktop\n");
       },
       "first place/kestrun", {mimeApps},
       "[Default Applications]\n"
       "x-scheme-handler/oloma=kestrun-oloma.desktop\n"
       "x-scheme-handler/vardel=kestrun-vardel.desktop\n"
       "text/html=firefox.desktop\n"},
      {"entry edited by hand", [&](const fs::path& home) { writeFile(home / vardel, "[Desktop Entry]\n"); },
       "first place/kestrun", {vardel}, kBothDefaults},
  };
  const fs::file_time_type earlier = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHome home(true);
    platform::registerUrlProtocolsFor(home.dir / "first place/kestrun");
    if (c.between) c.between(home.dir.path());
    for (const std::string& file : {oloma, vardel, mimeApps}) fs::last_write_time(home.dir / file, earlier);

    platform::registerUrlProtocolsFor(home.dir / c.secondLauncher);

    for (const std::string& file : {oloma, vardel, mimeApps}) {
      EXPECT_EQ(fs::last_write_time(home.dir / file) != earlier, c.written.count(file) == 1) << file;
    }
    const std::string exec = platform::desktopExecArgument((home.dir / c.secondLauncher).string());
    EXPECT_EQ(readFile(home.dir / vardel), expectedEntry("URL:Vardel Protocol", exec, "vardel"));
    EXPECT_EQ(readFile(home.dir / mimeApps), c.mimeAppsAfter);
    // Nothing but the three files: no temporary file is left behind.
    std::set<std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(home.dir.path())) {
      if (item.is_regular_file()) files.insert(fs::relative(item.path(), home.dir.path()).string());
    }
    EXPECT_EQ(files, (std::set<std::string>{oloma, vardel, mimeApps}));
  }
}

TEST(RegisterUrlProtocols, DefaultsToDirectoriesUnderHome) {
  const struct {
    const char* name;
    Value dataHome;
    Value configHome;
  } cases[] = {
      {"variables unset", std::nullopt, std::nullopt},
      {"variables empty", Value(""), Value("")},
      {"relative variables are ignored", Value("relative/data"), Value("relative/config")},
  };
  for (const auto& c : cases) {
    TempDir dir;
    ScopedEnvironment home("HOME", Value(dir.path().string()));
    ScopedEnvironment dataHome("XDG_DATA_HOME", c.dataHome);
    ScopedEnvironment configHome("XDG_CONFIG_HOME", c.configHome);
    platform::registerUrlProtocolsFor("/opt/fennick/kestrun");
    EXPECT_TRUE(fs::is_regular_file(dir / ".local/share/applications/kestrun-oloma.desktop")) << c.name;
    EXPECT_TRUE(fs::is_regular_file(dir / ".local/share/applications/kestrun-vardel.desktop")) << c.name;
    EXPECT_EQ(readFile(dir / ".config/mimeapps.list"),
              "[Default Applications]\n"
              "x-scheme-handler/oloma=kestrun-oloma.desktop\n"
              "x-scheme-handler/vardel=kestrun-vardel.desktop\n")
        << c.name;
  }
}

TEST(RegisterUrlProtocols, OwnPathIsRegisteredAtStart) {
  TestHome home(true);
  platform::registerUrlProtocols();
  std::filesystem::path own;
  ASSERT_TRUE(platform::ownExecutablePath(own));
  EXPECT_EQ(readFile(home.dir / "data/applications/kestrun-oloma.desktop"),
            expectedEntry("URL:Oloma Protocol", platform::desktopExecArgument(own.string()), "oloma"));
}

TEST(RegisterUrlProtocols, UnwritableDirectoriesAreSilentlySkipped) {
  TestHome home(true);
  // A file where the configuration directory should be: nothing can be created below it.
  writeFile(home.dir / "config", "not a directory");
  platform::registerUrlProtocolsFor("/opt/fennick/kestrun");
  EXPECT_EQ(readFile(home.dir / "config"), "not a directory");
  EXPECT_TRUE(fs::is_regular_file(home.dir / "data/applications/kestrun-vardel.desktop"))
      << "the desktop entries are still written";

  // And the other way round: no entries, but the defaults are still set.
  TestHome other(true);
  writeFile(other.dir / "data", "not a directory");
  platform::registerUrlProtocolsFor("/opt/fennick/kestrun");
  EXPECT_TRUE(fs::is_regular_file(other.dir / "config/mimeapps.list"));

  // A mimeapps.list that cannot be read as a file is never replaced.
  TestHome third(true);
  fs::create_directories(third.dir / "config/mimeapps.list");
  platform::registerUrlProtocolsFor("/opt/fennick/kestrun");
  EXPECT_TRUE(fs::is_directory(third.dir / "config/mimeapps.list"));
}

TEST(RegisterUrlProtocols, LinkedMimeAppsListIsUpdatedWhereItLives) {
  TestHome home(true);
  writeFile(home.dir / "dotfiles/mimeapps.list", "[Default Applications]\ntext/html=firefox.desktop\n");
  fs::create_directories(home.dir / "config");
  fs::create_symlink(home.dir / "dotfiles/mimeapps.list", home.dir / "config/mimeapps.list");
  platform::registerUrlProtocolsFor("/opt/fennick/kestrun");
  EXPECT_TRUE(fs::is_symlink(home.dir / "config/mimeapps.list"));
  EXPECT_EQ(readFile(home.dir / "dotfiles/mimeapps.list"),
            "[Default Applications]\ntext/html=firefox.desktop\n"
            "x-scheme-handler/oloma=kestrun-oloma.desktop\n"
            "x-scheme-handler/vardel=kestrun-vardel.desktop\n");
}

// The desktop's own URL opener finds the registration and starts the launcher, at a path full
// of characters that need quoting, with the URL as its one argument.
TEST(RegisterUrlProtocols, DesktopOpenerStartsTheLauncherWithTheUrl) {
  const fs::path gio = "/usr/bin/gio";
  if (!fs::exists(gio) || !fs::exists("/bin/sh")) GTEST_SKIP() << "no gio on this system";
  TestHome home(true);
  ScopedEnvironment dataDirs("XDG_DATA_DIRS", Value("/usr/share"));
  const fs::path record = home.dir / "launched.txt";
  const fs::path launcher = home.dir / "My \"odd\" $HOME `dir` back\\slash 'q'" / "kestrun";
  // The record appears whole, by a rename, so that it is never read half-written.
  writeFile(launcher, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do echo \"[$a]\"; done > '" + record.string() +
                          ".part' && mv '" + record.string() + ".part' '" + record.string() + "'\n");
  fs::permissions(launcher, fs::perms(0755));
  platform::registerUrlProtocolsFor(launcher);

  std::uint32_t errorCode = 0;
  platform::ProcessHandle opener =
      platform::startProcess(gio, {"open", "vardel://open?id=1&x=\"2\""}, home.dir.path(), errorCode);
  ASSERT_TRUE(opener) << errorCode;
  if (platform::waitForExit(*opener, 15000, errorCode) != platform::WaitResult::Exited) {
    platform::terminateProcess(*opener, 1, errorCode);
    platform::waitForExit(*opener, 5000, errorCode);
    FAIL() << "gio open did not finish";
  }
  // The recording program may still be writing when the file appears: wait for the whole record.
  const std::string expected = "[" + launcher.string() + "]\n[vardel://open?id=1&x=\"2\"]\n";
  testing_support::waitUntil([&] { return readFile(record) == expected; }, 30000);
  EXPECT_EQ(readFile(record), expected);
}

}  // namespace
